// contentexe-pack --preview run for real: curl and headless Chromium against a folder
// served by the packer, edited and trimmed between requests.
#include "tools/pack/preview.h"

#include <signal.h>

#include <gtest/gtest.h>

#include "testing/chromium.h"
#include "testing/pack_util.h"
#include "testing/recording_relay.h"
#include "testing/runner_e2e.h"
#include "testing/test_client.h"

namespace pack {
namespace {

namespace fs = std::filesystem;
using testing::Quoted;
using testing::RunShell;
using testing::WriteText;

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = dir_ / "site";
    WriteText(site_ / "index.html", "<p>first</p>");
    WriteText(dir_ / "secret.txt", "outside");
    WriteText(site_ / "media/clip.webm", std::string(5000, 'v'));
    WriteText(site_ / "css/site.css", "body { margin-left: 17px }" + std::string(2000, ' '));
    recorder_ = e2e::UrlRecorder(dir_.path().string());
  }
  void TearDown() override {
    if (child_.pid > 0) kill(child_.pid, SIGKILL), e2e::WaitExit(child_, 5);
  }

  // Starts the preview; the start URL its browser was handed ("" when none came).
  std::string Start(const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {testing::BuiltProgram("contentexe-pack").string(), "--preview",
                                     site_.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    std::string urls = (dir_ / "urls").string();
    child_ = e2e::Spawn(argv,
                        {{"BROWSER", recorder_.string() + " %s"},
                         {"CX_URLS", urls},
                         {"XDG_CONFIG_HOME", (dir_ / "config").string()}},
                        (dir_ / "stderr").string());
    std::string text = e2e::WaitForFile(urls, 20);
    return text.substr(0, text.find('\n'));
  }

  // curl's answer (headers and body) for a path below base, with extra curl options.
  std::string Curl(const std::string& url, const std::string& options = "") {
    return RunShell("curl -s -i --max-time 10 --path-as-is " + options + " '" + url + "'").output;
  }

  testing::TempDir dir_;
  fs::path site_, recorder_;
  e2e::Child child_;
};

TEST_F(PreviewTest, ServesTheFolderAsItIsAtEachRequestAndRefusesWhatLiesOutside) {
  std::string url = Start({"--start", "two words", "--port", "-1"});
  size_t at = url.find("/index.html?show=two words");
  ASSERT_NE(at, std::string::npos) << url << "\n" << testing::ReadText(dir_ / "stderr");
  std::string base = url.substr(0, at + 1);  // http://localhost:P/PREFIX/
  std::string root = base.substr(0, base.find('/', 7) + 1);

  std::string first = Curl(base + "index.html");
  EXPECT_EQ(first.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << first;
  EXPECT_NE(first.find("Cache-Control: max-age=0\r\n"), std::string::npos) << first;
  EXPECT_NE(first.find("\r\n\r\n<p>first</p>"), std::string::npos) << first;
  WriteText(site_ / "index.html", "<p>second, edited</p>");
  EXPECT_NE(Curl(base + "INDEX.HTML").find("\r\n\r\n<p>second, edited</p>"), std::string::npos);
  EXPECT_NE(Curl(base).find("<p>second, edited</p>"), std::string::npos) << "the folder's index";
  EXPECT_NE(Curl(root + "css/site.css").find("Content-Type: text/css"), std::string::npos)
      << "root-relative";

  // Ranges on media, gzip forms on what the packer deflates.
  std::string range = Curl(base + "media/clip.webm", "-r 10-19");
  EXPECT_EQ(range.rfind("HTTP/1.1 206", 0), 0u) << range;
  EXPECT_NE(range.find("Content-Range: bytes 10-19/5000\r\n"), std::string::npos) << range;
  std::string gz = Curl(base + "css/site.css", "--compressed");
  EXPECT_NE(gz.find("Content-Encoding: gzip\r\n"), std::string::npos) << gz;
  EXPECT_NE(gz.find("margin-left: 17px"), std::string::npos) << gz;

  fs::remove(site_ / "index.html");
  EXPECT_EQ(Curl(base + "index.html").rfind("HTTP/1.1 404", 0), 0u);
  fs::create_symlink(dir_ / "secret.txt", site_ / "out.txt");
  fs::create_directory_symlink(dir_.path(), site_ / "up");
  for (const std::string& path : {base + "out.txt", base + "up/secret.txt", base + "../secret.txt",
                                  base + "%2e%2e/secret.txt", base + "css/..%2f..%2fsecret.txt",
                                  base + "..%5csecret.txt", root + "../secret.txt"}) {
    std::string answer = Curl(path);
    EXPECT_EQ(answer.find("outside"), std::string::npos) << path << "\n" << answer;
    EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u) << path << "\n" << answer;
  }
  // Only this machine's names are answered.
  EXPECT_EQ(Curl(base + "css/site.css", "-H 'Host: example.com'").find("margin-left"),
            std::string::npos);

  kill(child_.pid, SIGINT);
  EXPECT_EQ(e2e::WaitExit(child_, 10), 0) << "Ctrl+C ends the preview";
  child_.pid = -1;
}

TEST_F(PreviewTest, ABrowserLoadsTheFolderAndItsModulesAndSeesAnEdit) {
  if (RunShell("command -v chromium").status != 0) GTEST_SKIP() << "needs chromium";
  WriteText(site_ / "index.html", R"(<!doctype html><link rel=stylesheet href="css/site.css">
<script type=module>
import { word } from "./js/word.mjs";
const css = getComputedStyle(document.body).marginLeft;
fetch('report?css=' + css + '&word=' + word + '&').catch(() => {});
</script>)");
  std::string url = Start({"--port", "-1"});
  ASSERT_FALSE(url.empty()) << testing::ReadText(dir_ / "stderr");
  storage::clients::RecordingProxy proxy(storage::test::PortOf(url.substr(0, url.find('/', 7))));
  // The second browser, with a profile of its own, must get the edited module.
  for (const std::string word : {"alpha", "beta"}) {
    WriteText(site_ / "js/word.mjs", "export const word = '" + word + "';");
    storage::test::HeadlessChromium browser(
        "http://127.0.0.1:" + std::to_string(proxy.Port()) + url.substr(url.find('/', 7)),
        (dir_ / ("profile-" + word)).string());
    ASSERT_TRUE(browser.Started());
    EXPECT_NE(proxy.WaitForRequest("word=" + word + "&", 60000).find("css=17px"),
              std::string::npos)
        << "no report from the page with the module saying " << word;
  }
}

// A .zip source is served from its entries, deflated ones in their gzip form too, and
// its link warnings are shown as the preview starts; one the packer refuses is refused.
TEST_F(PreviewTest, ServesAZipTheWayThePackedProgramWould) {
  std::string page = "<p>zipped</p><img src=gone.png>" + std::string(3000, ' ');
  RunShell(
      "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w',"
      "zipfile.ZIP_DEFLATED); z.writestr('Index.html', sys.argv[2]); "
      "z.writestr('.start', 'intro'.encode('utf-16-le')); z.close()\" " +
      Quoted(dir_ / "site.zip") + " '" + page + "'");
  site_ = dir_ / "site.zip";
  std::string url = Start({"--port", "-1"});
  ASSERT_FALSE(url.empty()) << testing::ReadText(dir_ / "stderr");
  EXPECT_NE(url.find("index.html?show=intro"), std::string::npos) << url;  // the zip's .start
  std::string answer = Curl(url.substr(0, url.rfind('/') + 1) + "index.html", "--compressed");
  EXPECT_NE(answer.find("Content-Encoding: gzip\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("<p>zipped</p>"), std::string::npos) << answer;
  EXPECT_NE(testing::ReadText(dir_ / "stderr")
                .find("warning: Index.html:1: \"gone.png\" is not in the content"),
            std::string::npos);
  kill(child_.pid, SIGTERM);
  EXPECT_EQ(e2e::WaitExit(child_, 10), 0);
  child_.pid = -1;

  RunShell(
      "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w',"
      "zipfile.ZIP_BZIP2); z.writestr('index.html', 'x'); z.close()\" " +
      Quoted(dir_ / "bzip2.zip"));
  auto refused = RunShell(Quoted(testing::BuiltProgram("contentexe-pack")) + " --preview " +
                          Quoted(dir_ / "bzip2.zip"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("compression method is not stored or deflate"), std::string::npos)
      << refused.output;
}

}  // namespace
}  // namespace pack
