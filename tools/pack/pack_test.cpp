#include "tools/pack/pack.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <map>
#include <set>

#include "content/footer.h"
#include "content/piggyback.h"
#include "testing/pack_util.h"
#include "zip/archive.h"

namespace pack {
namespace {

namespace fs = std::filesystem;
using testing::Quoted;
using testing::RandomBytes;
using testing::ReadText;
using testing::RunShell;
using testing::WriteText;

const fs::path kProbe = testing::BuiltProgram("locator_probe");
const fs::path kPacker = testing::BuiltProgram("contentexe-pack");

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kProbe)) << kProbe;
    source_ = dir_ / "site";
    files_ = {
        {"index.html", "<!doctype html><title>t</title>" + std::string(3000, ' ')},
        {"js/app.js", std::string(50000, ';')},
        {"media/clip.MP4", RandomBytes(200000, 7)},
        {"media/photo.jpg", RandomBytes(1000, 8)},
        {"deep/a/b/c/data.json", "{\"k\": [1, 2, 3]}"},
        {"caf\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", "unicode"},
        {"noise.bin", RandomBytes(4000, 9)},
        {"empty.txt", ""},
    };
    for (const auto& [name, data] : files_) WriteText(source_ / fs::u8path(name), data);
  }

  PackOptions Options(const std::string& output) {
    PackOptions o;
    o.source = source_;
    o.output = dir_ / output;
    o.stub = kProbe;
    return o;
  }

  // Nothing but the expected files in the folder: no output, no temporary file.
  void ExpectOnlyIn(const std::set<std::string>& names) {
    std::set<std::string> found;
    for (const auto& e : fs::directory_iterator(dir_.path()))
      found.insert(e.path().filename().string());
    EXPECT_EQ(names, found);
  }

  testing::TempDir dir_;
  fs::path source_;
  std::map<std::string, std::string> files_;
};

TEST_F(PackTest, RoundTripThroughUnzipListAndTheLocator) {
  PackOptions o = Options("out.exe");
  o.start = "chapter 2 \xE2\x80\x94 intro";
  o.port = "-1";
  o.useIe = "0";
  o.caption = "Demo \xF0\x9F\x98\x80";
  PackResult r = Pack(o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(files_.size() + 4, r.entryCount);
  fs::path out = o.output;

  // Every file extracts to its bytes.
  for (const auto& [name, data] : files_) EXPECT_TRUE(data == testing::Unzip(out, name)) << name;
  // Control entries: UTF-16LE, no mark.
  EXPECT_EQ(std::string("-\0"
                        "1\0",
                        4),
            testing::Unzip(out, ".port"));
  EXPECT_EQ(std::string("0\0", 2), testing::Unzip(out, ".use_ie"));

  // The listing names every file and decodes the control entries.
  auto listing = RunShell(Quoted(kPacker) + " --list " + Quoted(out));
  EXPECT_EQ(0, listing.status) << listing.output;
  for (const auto& [name, data] : files_)
    EXPECT_NE(std::string::npos, listing.output.find(" " + name + "\n")) << name;
  EXPECT_NE(std::string::npos, listing.output.find(".start = \"chapter 2 \xE2\x80\x94 intro\""));
  EXPECT_NE(std::string::npos, listing.output.find(".caption = \"Demo \xF0\x9F\x98\x80\""));
  EXPECT_NE(std::string::npos, listing.output.find(".port = \"-1\""));
  EXPECT_NE(std::string::npos, listing.output.find(".use_ie = \"0\""));

  // Media are stored, text deflated; the extension is matched without regard to case.
  auto method = [&](const std::string& name) {
    size_t at = listing.output.find(" " + name + "\n");
    size_t line = listing.output.rfind('\n', at) + 1;
    return listing.output.substr(line, at - line);
  };
  EXPECT_NE(std::string::npos, method("media/clip.MP4").find("stored"));
  EXPECT_NE(std::string::npos, method("media/photo.jpg").find("stored"));
  EXPECT_NE(std::string::npos, method("js/app.js").find("deflate"));
  EXPECT_NE(std::string::npos, method("index.html").find("deflate"));

  // The packed program finds its own archive.
  struct stat st;
  ASSERT_EQ(0, stat(out.c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 0777);
  auto probe = RunShell(Quoted(out));
  EXPECT_NE(std::string::npos,
            probe.output.find("found=1\nstart=" + std::to_string(fs::file_size(kProbe)) +
                              "\nsize=" + std::to_string(r.archiveSize) + "\n"))
      << probe.output;
  // The runner's ZIP reader, over the mapped archive, reads every entry back.
  PiggyBackArchive piggy;
  ASSERT_TRUE(piggy.OpenFile(out.u16string()));
  amzip::Archive zip;
  EXPECT_EQ(0, piggy.OpenArchive(zip));
  EXPECT_EQ(files_.size() + 4, zip.Entries().size());
  for (const auto& [name, data] : files_) {
    auto stream = zip.OpenEntryStream(fs::u8path(name).u16string());
    ASSERT_TRUE(bool(stream)) << name;
    std::string got;
    char buffer[8192];
    while (uint32_t n = stream->Read(buffer, sizeof buffer)) got.append(buffer, n);
    EXPECT_TRUE(data == got) << name;
  }
  EXPECT_TRUE(piggy.Close());
  ExpectOnlyIn({"site", "out.exe"});
}

TEST_F(PackTest, SameInputGivesTheSameBytes) {
  ASSERT_TRUE(Pack(Options("one")).ok);
  ASSERT_TRUE(Pack(Options("two")).ok);
  EXPECT_EQ(ReadText(dir_ / "one"), ReadText(dir_ / "two"));
  // A changed file changes the output.
  WriteText(source_ / "js/app.js", "changed");
  ASSERT_TRUE(Pack(Options("three")).ok);
  EXPECT_NE(ReadText(dir_ / "one"), ReadText(dir_ / "three"));
}

TEST_F(PackTest, RepacksAZipMadeByZip) {
  fs::path zip = dir_ / "in.zip";
  // zip stores the folders as entries too and uses data descriptors when piped.
  auto made = RunShell("cd " + Quoted(source_) + " && zip -qr -X -fd - . > " + Quoted(zip));
  ASSERT_EQ(0, made.status) << made.output;
  PackOptions o = Options("from-zip");
  o.source = zip;
  o.start = "s";
  PackResult r = Pack(o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(files_.size() + 1, r.entryCount);  // folders dropped, .start added
  for (const auto& [name, data] : files_)
    EXPECT_TRUE(data == testing::Unzip(o.output, name)) << name;
  EXPECT_EQ(std::string("s\0", 2), testing::Unzip(o.output, ".start"));
  auto test = RunShell("unzip -tq " + Quoted(o.output));
  EXPECT_NE(std::string::npos, test.output.find("No errors")) << test.output;
}

TEST_F(PackTest, BadInputIsRefusedWithoutLeavingOutput) {
  fs::path packed = dir_ / "packed";
  ASSERT_TRUE(Pack(Options("packed")).ok);
  fs::create_directories(dir_ / "empty");
  WriteText(dir_ / "text-stub", "#!/bin/sh\necho contentexe-runner:1\n");
  fs::copy_file("/bin/true", dir_ / "elf-stub");
  fs::path blocked = dir_ / "blocked";
  WriteText(blocked, "old");

  struct Case {
    const char* what;
    std::function<void(PackOptions&)> change;
    const char* message;
  } cases[] = {
      {"missing source", [&](PackOptions& o) { o.source = dir_ / "nope"; }, "does not exist"},
      {"empty source", [&](PackOptions& o) { o.source = dir_ / "empty"; }, "holds no files"},
      {"output exists", [&](PackOptions& o) { o.output = blocked; }, "pass --force"},
      {"text stub", [&](PackOptions& o) { o.stub = dir_ / "text-stub"; }, "is not a program"},
      {"ELF without marker", [&](PackOptions& o) { o.stub = dir_ / "elf-stub"; },
       "marker is missing"},
      {"the packer itself", [&](PackOptions& o) { o.stub = kPacker; }, "marker is missing"},
      {"stub already packed", [&](PackOptions& o) { o.stub = packed; }, "already carries content"},
      {"missing stub", [&](PackOptions& o) { o.stub = dir_ / "no-stub"; },
       "cannot read the runner"},
      {"too large", [&](PackOptions& o) { o.maxArchiveSize = 100000; }, "does not fit"},
      {"bad port", [&](PackOptions& o) { o.port = "80a"; }, "--port needs a whole number"},
      {"bad use-ie", [&](PackOptions& o) { o.useIe = ""; }, "--use-ie needs a whole number"},
      {"bad caption", [&](PackOptions& o) { o.caption = "\xC3"; }, "not valid UTF-8"},
      {"dangling link",
       [&](PackOptions&) { fs::create_symlink(dir_ / "gone", source_ / "link.js"); }, "link.js"},
  };
  for (const auto& c : cases) {
    PackOptions o = Options("out");
    c.change(o);
    PackResult r = Pack(o);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_NE(std::string::npos, r.error.find(c.message)) << c.what << ": " << r.error;
    ExpectOnlyIn({"site", "packed", "empty", "text-stub", "elf-stub", "blocked"});
  }
  EXPECT_EQ("old", ReadText(blocked));
  if (geteuid() != 0) {  // root reads anything
    fs::remove(source_ / "link.js");
    chmod((source_ / "index.html").c_str(), 0);
    PackResult r = Pack(Options("out"));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.error.find("index.html")) << r.error;
  }
}

TEST_F(PackTest, ForceReplacesAndMissingIndexWarns) {
  fs::path out = dir_ / "out";
  WriteText(out, "old");
  fs::remove(source_ / "index.html");
  PackOptions o = Options("out");
  o.force = true;
  PackResult r = Pack(o);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(1u, r.warnings.size());
  EXPECT_NE(std::string::npos, r.warnings[0].find("index.html"));
  EXPECT_TRUE(content::LocateArchiveInBytes(reinterpret_cast<const uint8_t*>(ReadText(out).data()),
                                            fs::file_size(out)));
}

TEST_F(PackTest, CommandLine) {
  auto usage = RunShell(Quoted(kPacker) + " " + Quoted(source_));
  EXPECT_EQ(2, usage.status);
  EXPECT_NE(std::string::npos, usage.output.find("-o OUTPUT")) << usage.output;
  EXPECT_EQ(2, RunShell(Quoted(kPacker) + " --bogus").status);
  auto help = RunShell(Quoted(kPacker) + " --help");
  EXPECT_EQ(0, help.status);
  for (const char* option : {"--output", "--start", "--port", "--use-ie", "--caption", "--stub",
                             "--force", "--list", "show=TEXT"})
    EXPECT_NE(std::string::npos, help.output.find(option)) << option << "\n" << help.output;
  fs::path out = dir_ / "cli.bin";
  auto ok = RunShell(Quoted(kPacker) + " " + Quoted(source_) + " -o " + Quoted(out) + " --stub " +
                     Quoted(kProbe) + " --port 8080 --start x");
  EXPECT_EQ(0, ok.status) << ok.output;
  // Not a terminal: no progress line.
  EXPECT_EQ(std::string::npos, ok.output.find('\r')) << ok.output;
  auto again = RunShell(Quoted(kPacker) + " " + Quoted(source_) + " -o " + Quoted(out) +
                        " --stub " + Quoted(kProbe));
  EXPECT_EQ(1, again.status);
  EXPECT_NE(std::string::npos, again.output.find("--force")) << again.output;
  // The default stub is the runner beside the packer (absent or not, it is named).
  auto defaultStub =
      RunShell(Quoted(kPacker) + " " + Quoted(source_) + " -o " + Quoted(dir_ / "d.bin"));
  if (!fs::exists(kPacker.parent_path() / "contentexe")) {
    EXPECT_EQ(1, defaultStub.status);
    EXPECT_NE(std::string::npos,
              defaultStub.output.find((kPacker.parent_path() / "contentexe").string()))
        << defaultStub.output;
  }
  auto list = RunShell(Quoted(kPacker) + " --list " + Quoted(out));
  EXPECT_NE(std::string::npos, list.output.find(".port = \"8080\"")) << list.output;
  auto listMissing = RunShell(Quoted(kPacker) + " --list " + Quoted(dir_ / "none"));
  EXPECT_EQ(1, listMissing.status);
}

}  // namespace
}  // namespace pack
