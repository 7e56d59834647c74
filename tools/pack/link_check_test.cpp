#include "tools/pack/link_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "testing/pack_util.h"
#include "tools/pack/pack.h"

namespace pack {
namespace {

namespace fs = std::filesystem;
using testing::RunShell;
using testing::TempDir;
using testing::WriteText;

// The 1-based line of the first occurrence of needle in text.
size_t LineOf(const std::string& text, const std::string& needle) {
  size_t at = text.find(needle);
  EXPECT_NE(at, std::string::npos) << needle;
  return 1 + std::count(text.begin(), text.begin() + std::min(at, text.size()), '\n');
}

std::string NotIn(const std::string& file, const std::string& text, const std::string& url,
                  const std::string& needle = "") {
  return file + ":" + std::to_string(LineOf(text, needle.empty() ? url : needle)) + ": \"" + url +
         "\" is not in the content";
}

PackResult CheckFolder(const fs::path& folder) {
  PackOptions options;
  options.source = folder;
  PackResult result = Check(options);
  EXPECT_TRUE(result.ok) << result.error;
  return result;
}

const char kPage[] = R"x(<!DOCTYPE html>
<HTML><HEAD>
<META HTTP-EQUIV="Refresh" CONTENT="30; URL='norefresh.html'">
<LINK REL=stylesheet HREF=css/site.css>
<link rel="stylesheet" href="css/missing.css">
<style>
  body { background: url("img/bg.png"); }
  .x { background: URL( img/nobg.png ) }
  @import "css/gone.css";
</style>
<script type="module">
import { a } from "./js/a.mjs";
import "./js/nomod.mjs";
const lazy = import("./js/lazy.mjs"), lib = import("lib"); // a bare name: an import map's
</script>
<script type=module src="js/main.js"></script>
<script>/* <img src="in-script.png"> */ var s = "<a href='in-string.html'>";</script>
<!-- a > b: <img src="commented.png"> -->
<![CDATA[ <img src="cdata.png"> ]]>
<title><img src="in-title.png"></title>
</HEAD><BODY>
<a href="Guide/">guide</a> <a href="/GUIDE/page.html?x=1#top">page</a>
<a href="guide/nopage.html">broken</a>
<img src="img/logo.png" alt="x > y">
<img
  src="img/nologo.png">
<img srcset="img/logo.png 1x,img/no2x.png 2x, img/logo.png 3x">
<video poster="img/noposter.jpg" src="media/clip.webm"></video>
<object data="nodata.svg"></object>
<form action="nosearch.html"><button formaction="guide/page.html">go</button></form>
<div style="background-image: url('img/nostyle.png')"></div>
<a href="a&amp;b.html">entity</a> <a href="&#x6E;o&#101;ntity.html">numeric</a>
<a href="http://localhost:8080/index.html">fixed</a> <a href="//127.0.0.1/x">fixed too</a>
<a href="../outside.html">climbs</a>
<a href="https://example.com/">x</a> <a href="mailto:x@y">x</a> <a href="#top">x</a>
<img src="data:image/png;base64,AAAA"> <a href="javascript:void(0)">x</a> <a href="">x</a>
<a href='my%20page.html'>escaped</a> <a href="my page.html">spaced</a>
</BODY></HTML>
)x";

const char kCss[] = R"x(@import url("base.css");
/* url(commented.png) */
body { background: url(../img/logo.png) }
.y { content: "url(in-string.png)"; background: url('../img/nocss.png') }
)x";

const char kModule[] = R"x(export * from "./b.mjs";
export { x } from "./nob.mjs";
// import "./comment.mjs";
const re = /import "x"/g, t = `import("y")`;
export const z = 1;
)x";

TEST(LinkCheckTest, FindsOneBrokenLinkOfEachKindAndNothingElse) {
  TempDir dir;
  fs::path site = dir / "site";
  WriteText(site / "index.html", kPage);
  WriteText(site / "css/site.css", kCss);
  WriteText(site / "css/base.css", "p{}");
  WriteText(site / "js/a.mjs", kModule);
  WriteText(site / "js/b.mjs", "export const b = 1;");
  WriteText(site / "js/lazy.mjs", "");
  WriteText(site / "js/main.js", "import { b } from './b.mjs';\nimport './nodep.js';\n");
  WriteText(site / "guide/index.html", "<a href=../index.html>up</a>");
  WriteText(site / "guide/page.html", "<img src=\"/img/logo.png\"><a href='/'>home</a>");
  for (const char* f : {"img/bg.png", "img/logo.png", "media/clip.webm", "a&b.html",
                        "noentity.html", "my page.html"})
    WriteText(site / f, "x");

  PackResult result = CheckFolder(site);
  const std::string i = "index.html", css = "css/site.css", mjs = "js/a.mjs";
  std::set<std::string> expected = {NotIn(css, kCss, "../img/nocss.png"),
                                    NotIn(mjs, kModule, "./nob.mjs"),
                                    "js/main.js:2: \"./nodep.js\" is not in the content"};
  for (const char* url :
       {"norefresh.html", "css/missing.css", "img/nobg.png", "css/gone.css", "./js/nomod.mjs",
        "guide/nopage.html", "img/nologo.png", "img/no2x.png", "img/noposter.jpg", "nodata.svg",
        "nosearch.html", "img/nostyle.png"})
    expected.insert(NotIn(i, kPage, url));
  const std::string fixed =
      " names this machine with a fixed address: the program's port changes; link with a "
      "relative or root-relative address instead";
  for (const char* url : {"http://localhost:8080/index.html", "//127.0.0.1/x"})
    expected.insert(i + ":" + std::to_string(LineOf(kPage, url)) + ": \"" + url + "\"" + fixed);
  expected.insert(i + ":" + std::to_string(LineOf(kPage, "../outside")) +
                  ": \"../outside.html\" climbs above the content root; link inside the content");
  std::set<std::string> got(result.warnings.begin(), result.warnings.end());
  for (const std::string& w : expected) EXPECT_TRUE(got.count(w)) << "missing: " << w;
  for (const std::string& w : got) EXPECT_TRUE(expected.count(w)) << "not expected: " << w;
  EXPECT_EQ(result.warnings.size(), expected.size());
  // Six pages, two style sheets, four modules (main.js read as one).
  EXPECT_EQ(result.pagesChecked, 12u);
}

TEST(LinkCheckTest, ReportsAMissingStartPageAndFailsWithStrict) {
  TempDir dir;
  // Found ignoring case; long enough to be deflated.
  WriteText(dir / "site/Index.HTML", "<img src=img/x.png>" + std::string(500, ' '));
  EXPECT_EQ(CheckFolder(dir / "site").warnings,
            std::vector<std::string>{"Index.HTML:1: \"img/x.png\" is not in the content"});
  WriteText(dir / "other/page.html", "<p>");
  EXPECT_EQ(CheckFolder(dir / "other").warnings, std::vector<std::string>{kNoStartPage});

  // The command: --check alone, --strict, and packing (warnings do not stop it; with
  // --strict nothing is written and the exit code is 2).
  std::string packer = testing::Quoted(testing::BuiltProgram("contentexe-pack"));
  std::string site = testing::Quoted(dir / "site");
  auto check = RunShell(packer + " --check " + site);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("warning: Index.HTML:1: \"img/x.png\" is not in the content\n"),
            std::string::npos)
      << check.output;
  EXPECT_EQ(RunShell(packer + " --check " + site + " --strict").status, 2);
  std::string stub = " --stub " + testing::Quoted(testing::BuiltProgram("locator_probe"));
  auto strict =
      RunShell(packer + " " + site + " -o " + testing::Quoted(dir / "out") + stub + " --strict");
  EXPECT_EQ(strict.status, 2) << strict.output;
  EXPECT_FALSE(fs::exists(dir / "out"));
  auto packed = RunShell(packer + " " + site + " -o " + testing::Quoted(dir / "out") + stub);
  EXPECT_EQ(packed.status, 0) << packed.output;
  EXPECT_TRUE(fs::exists(dir / "out"));
  EXPECT_NE(packed.output.find("  entries   2: 1 deflated, 1 stored\n"), std::string::npos)
      << packed.output;
  EXPECT_NE(packed.output.find("  warnings  1\n"), std::string::npos) << packed.output;
}

// A generated site checks clean; with one link in page changed from `from` to `to`, that
// link is the one warning.
void ExpectCleanThenBroken(const fs::path& site, const std::string& page, const std::string& from,
                           const std::string& to) {
  EXPECT_EQ(CheckFolder(site).warnings, std::vector<std::string>{});
  std::string text = testing::ReadText(site / page);
  size_t at = text.find("href=\"" + from + "\"");
  ASSERT_NE(at, std::string::npos) << page;
  text.replace(at + 6, from.size(), to);
  WriteText(site / page, text);
  EXPECT_EQ(CheckFolder(site).warnings,
            std::vector<std::string>{page + ":" + std::to_string(LineOf(text, to)) + ": \"" + to +
                                     "\" is not in the content"});
}

// Sites made by generators nobody here wrote check clean; one link broken by hand is found.
TEST(LinkCheckTest, GeneratedSitesCheckCleanAndABrokenLinkIsFound) {
  TempDir dir;
  int generated = 0;
  if (RunShell("command -v sphinx-build").status == 0) {
    WriteText(dir / "doc/conf.py", "project = 'Demo'\nhtml_theme = 'alabaster'\n");
    WriteText(dir / "doc/index.rst",
              "Demo\n====\n\n.. toctree::\n\n   guide\n\nSee :doc:`guide` and :ref:`genindex`.\n"
              "\n.. image:: logo.png\n");
    WriteText(dir / "doc/guide.rst",
              "Guide\n=====\n\n.. _part:\n\nPart\n----\n\nBack to "
              ":doc:`index`, :ref:`part`. Download :download:`conf.py`.\n");
    fs::copy_file(dir / "doc/conf.py", dir / "doc/logo.png");
    auto built = RunShell("sphinx-build -q -b html " + testing::Quoted(dir / "doc") + " " +
                          testing::Quoted(dir / "sphinx"));
    ASSERT_EQ(built.status, 0) << built.output;
    ExpectCleanThenBroken(dir / "sphinx", "guide.html", "index.html", "indx.html");
    ++generated;
  }
  if (RunShell("command -v doxygen").status == 0) {
    WriteText(dir / "src/shape.h",
              "/// \\file shape.h A shape.\n/// A shape with an area. \\see Circle\n"
              "class Shape {\n public:\n  /// The area.\n  virtual double Area() const = 0;\n};\n"
              "/// A round one.\nclass Circle : public Shape {\n public:\n  /// Its area.\n"
              "  double Area() const override;\n};\n");
    // Without Graphviz, Debian's doxygen (HAVE_DOT on) links class graphs it never
    // writes: true reports, so the graphs are turned off here.
    auto built = RunShell("cd " + testing::Quoted(dir.path()) +
                          " && printf 'INPUT=src\\nOUTPUT_DIRECTORY=dox\\nGENERATE_LATEX=NO\\n"
                          "QUIET=YES\\nEXTRACT_ALL=YES\\nHAVE_DOT=NO\\n' | doxygen -");
    ASSERT_EQ(built.status, 0) << built.output;
    ExpectCleanThenBroken(dir / "dox/html", "index.html", "doxygen.css", "doxgen.css");
    ++generated;
  }
  if (generated < 2) GTEST_SKIP() << "needs sphinx-build and doxygen (scripts/deps.sh)";
}

// <base href> moves what relative references resolve against, as a browser does; a base
// on another site takes them off the content.
TEST(LinkCheckTest, RelativeReferencesFollowTheBase) {
  TempDir dir;
  WriteText(dir / "index.html", "");
  WriteText(dir / "app/main.js", "");
  WriteText(dir / "docs/guide/img/a.png", "");
  const std::string root = "<base href=\"/\">\n<script src=\"app/main.js\"></script>\n"
                           "<img src=\"../up.png\"><a href=\"app/../index.html\">";
  WriteText(dir / "docs/angular.html", root);
  const std::string folder = "<BASE HREF=\"guide/\"><img src=img/a.png><img src=img/b.png>";
  WriteText(dir / "docs/page.html", folder);
  WriteText(dir / "docs/cdn.html", "<base href=\"https://cdn.example/x/\"><img src=nothere.png>");
  WriteText(dir / "docs/fixed.html", "<base href=\"http://localhost:8080/\"><img src=n.png>");
  std::vector<std::string> warnings = CheckFolder(dir.path()).warnings;
  std::sort(warnings.begin(), warnings.end());
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                "docs/angular.html:3: \"../up.png\" climbs above the content root; link inside "
                "the content",
                "docs/fixed.html:1: \"http://localhost:8080/\" names this machine with a fixed "
                "address: the program's port changes; link with a relative or root-relative "
                "address instead",
                NotIn("docs/page.html", folder, "img/b.png")}));
}

}  // namespace
}  // namespace pack
