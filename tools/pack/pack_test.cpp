#include "tools/pack/pack.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "testing/pack_util.h"
#include "testing/zip_builder.h"
#include "tools/pack/pe_resources.h"
#include "tools/pack/progress.h"
#include "tools/pack/source_archive.h"
#include "tools/pack/source_tree.h"

namespace pack {
namespace {

namespace fs = std::filesystem;
using amzip::testing::BuildZip;
using amzip::testing::TestEntry;
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

  // Packs zip (written from bytes) with the probe as runner; the error, "" on success.
  std::string PackZip(const std::string& bytes, const std::string& output = "out") {
    WriteText(dir_ / "in.zip", bytes);
    PackOptions o = Options(output);
    o.source = dir_ / "in.zip";
    PackResult r = Pack(o);
    EXPECT_EQ(r.ok, fs::exists(o.output));  // a failed run leaves no output
    return r.ok ? std::string() : r.error;
  }
  // The packer's --list output (with its errors).
  std::string ListOf(const fs::path& path) {
    return RunShell(Quoted(kPacker) + " --list " + Quoted(path)).output;
  }
  // What a listing says before an entry's name (its method and sizes); "" when unlisted.
  static std::string MethodIn(const std::string& listing, const std::string& name) {
    size_t at = listing.find(" " + name + "\n");
    if (at == std::string::npos) return "";
    size_t start = listing.rfind('\n', at) + 1;
    return listing.substr(start, at - start);
  }
  testing::TempDir dir_;
  fs::path source_;
  std::map<std::string, std::string> files_;
};

TEST_F(PackTest, RoundTripThroughUnzipListAndTheLocator) {
  PackOptions o = Options("out.exe");
  o.start = "chapter 2 \xE2\x80\x94 intro";
  o.port = "-1";
  o.useIe = "1";
  o.caption = "Demo \xF0\x9F\x98\x80";
  o.crossOrigin = "any";
  PackResult r = Pack(o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(files_.size() + 5, r.entryCount);
  fs::path out = o.output;

  // Every file extracts to its bytes; control entries are UTF-16LE without a mark.
  for (const auto& [name, data] : files_) EXPECT_TRUE(data == testing::Unzip(out, name)) << name;
  EXPECT_EQ((std::string{'-', 0, '1', 0}), testing::Unzip(out, ".port"));
  // Python's zipfile checks the CRC and sizes of every entry.
  auto py =
      RunShell("python3 -c \"import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).testzip())\" " +
               Quoted(out));
  EXPECT_EQ("None\n", py.output);

  // The listing names every file and decodes the control entries.
  const std::string listing = ListOf(out);
  for (const auto& [name, data] : files_)
    EXPECT_NE(std::string::npos, listing.find(" " + name + "\n")) << name;
  for (const char* line :
       {".start = \"chapter 2 \xE2\x80\x94 intro\"", ".caption = \"Demo \xF0\x9F\x98\x80\"",
        ".port = \"-1\"", ".use_ie = \"1\"", ".cross_origin = \"any\""})
    EXPECT_NE(std::string::npos, listing.find(line)) << line;

  // Media and what deflate cannot shrink are stored, text deflated; the extension is
  // matched without regard to case.
  for (const char* name : {"media/clip.MP4", "media/photo.jpg", "noise.bin"})
    EXPECT_NE(std::string::npos, MethodIn(listing, name).find("stored")) << name;
  for (const char* name : {"js/app.js", "index.html"})
    EXPECT_NE(std::string::npos, MethodIn(listing, name).find("deflate")) << name;

  // The packed program finds its own archive, and the runner's ZIP reader, over the
  // mapped archive, sees every entry.
  EXPECT_EQ(fs::perms(0755), fs::status(out).permissions() & fs::perms::all);
  std::string probe = RunShell(Quoted(out)).output;
  EXPECT_NE(std::string::npos,
            probe.find("found=1\nstart=" + std::to_string(fs::file_size(kProbe)) +
                       "\nsize=" + std::to_string(r.archiveSize) + "\n"))
      << probe;
  EXPECT_NE(std::string::npos, probe.find("open=0\nentries=" + std::to_string(r.entryCount)))
      << probe;
  ExpectOnlyIn({"site", "out.exe"});
  // The same input gives the same bytes; a changed file changes them.
  o.output = dir_ / "again";
  ASSERT_TRUE(Pack(o).ok);
  EXPECT_TRUE(ReadText(out) == ReadText(o.output));
  WriteText(source_ / "js/app.js", "changed");
  o.output = dir_ / "changed";
  ASSERT_TRUE(Pack(o).ok);
  EXPECT_FALSE(ReadText(out) == ReadText(o.output));
}

TEST_F(PackTest, RepacksZipsMadeByZip) {
  fs::path zip = dir_ / "in.zip";
  // zip stores the folders as entries too, uses data descriptors when piped and, with
  // -fz, ZIP64 fields that nothing needs.
  for (std::string flags : {"-fd - . > " + Quoted(zip), "-fz " + Quoted(zip) + " ."}) {
    fs::remove(zip);
    auto made = RunShell("cd " + Quoted(source_) + " && zip -qr -X " + flags);
    ASSERT_EQ(0, made.status) << made.output;
    PackOptions o = Options("from-zip");
    o.source = zip;
    o.start = "s";
    o.force = true;
    PackResult r = Pack(o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(files_.size() + 2, r.entryCount);  // folders dropped, .start and .use_ie added
    for (const auto& [name, data] : files_)
      EXPECT_TRUE(data == testing::Unzip(o.output, name)) << flags << name;
    EXPECT_EQ(std::string("s\0", 2), testing::Unzip(o.output, ".start"));
    auto test = RunShell("unzip -tq " + Quoted(o.output));
    EXPECT_NE(std::string::npos, test.output.find("No errors")) << test.output;
  }
  // Media that the source deflated are stored (inflated once); text stays deflated.
  fs::remove(zip);
  auto made = RunShell(
      "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w',"
      "zipfile.ZIP_DEFLATED); z.writestr('v/clip.mkv','frame '*40000); "
      "z.writestr('page.html','text '*4000)\" " +
      Quoted(zip));
  ASSERT_EQ(0, made.status) << made.output;
  ASSERT_EQ("", PackZip(ReadText(zip), "media-out"));
  const std::string listing = ListOf(dir_ / "media-out");
  EXPECT_NE(std::string::npos, MethodIn(listing, "v/clip.mkv").find("stored")) << listing;
  EXPECT_NE(std::string::npos, MethodIn(listing, "page.html").find("deflate")) << listing;
  std::string frames;
  for (int i = 0; i < 40000; ++i) frames += "frame ";
  EXPECT_TRUE(frames == testing::Unzip(dir_ / "media-out", "v/clip.mkv"));
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
      // clang-format off
      {"missing source", [&](auto& o) { o.source = dir_ / "nope"; }, "does not exist"},
      {"empty source", [&](auto& o) { o.source = dir_ / "empty"; }, "holds no files"},
      {"output exists", [&](auto& o) { o.output = blocked; }, "pass --force"},
      {"text stub", [&](auto& o) { o.stub = dir_ / "text-stub"; }, "is not a program"},
      {"ELF without marker", [&](auto& o) { o.stub = dir_ / "elf-stub"; }, "marker is missing"},
      {"stub already packed", [&](auto& o) { o.stub = packed; }, "already carries content"},
      {"missing stub", [&](auto& o) { o.stub = dir_ / "no-stub"; }, "cannot read the runner"},
      {"too large", [&](auto& o) { o.maxArchiveSize = 100000; }, "does not fit"},
      {"bad port", [&](auto& o) { o.port = "80a"; }, "--port needs -1"},
      {"port out of range", [&](auto& o) { o.port = "65536"; }, "to 65535, got '65536'"},
      {"bad use-ie", [&](auto& o) { o.useIe = "yes"; }, "--use-ie needs a whole number"},
      {"bad caption", [&](auto& o) { o.caption = "\xC3"; }, "not valid UTF-8"},
      {"bad cross-origin", [&](auto& o) { o.crossOrigin = "*"; }, "--cross-origin takes 'any'"},
      {"branding an ELF runner", [&](auto& o) { o.company = "Acme"; }, "need a Windows runner"},
      {"missing icon", [&](auto& o) { o.icon = dir_ / "no.ico"; }, "cannot read the icon"},
      {"dangling link", [&](auto&) { fs::create_symlink(dir_ / "x", source_ / "a.js"); }, "a.js"},
      // clang-format on
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
}

// Packing through the command line is also what the runner's end-to-end tests do.
TEST_F(PackTest, CommandLine) {
  auto cli = [](const std::string& args) { return RunShell(Quoted(kPacker) + " " + args); };
  auto usage = cli(Quoted(source_));  // no -o
  EXPECT_EQ(2, usage.status);
  EXPECT_NE(std::string::npos, usage.output.find("-o OUTPUT")) << usage.output;
  EXPECT_EQ(0, cli("--help").status);
  EXPECT_EQ(1, cli("--list " + Quoted(dir_ / "none")).status);
  std::string pack =
      Quoted(source_) + " -o " + Quoted(dir_ / "cli.bin") + " --stub " + Quoted(kProbe);
  fs::remove(source_ / "index.html");
  auto ok = cli(pack + " --port 8080");
  EXPECT_EQ(0, ok.status) << ok.output;
  EXPECT_EQ(std::string::npos, ok.output.find('\r')) << ok.output;  // not a terminal: no progress
  EXPECT_NE(std::string::npos, ok.output.find("index.html")) << ok.output;  // missing: a warning
  const std::string listing = ListOf(dir_ / "cli.bin");
  EXPECT_NE(std::string::npos, listing.find(".port = \"8080\"")) << listing;
  EXPECT_NE(std::string::npos, listing.find(".use_ie = \"0\"")) << "the default browser";
  auto wrapped = cli(pack + " --force --port 70000");
  EXPECT_EQ(1, wrapped.status);
  EXPECT_NE(std::string::npos, wrapped.output.find("got '70000'")) << wrapped.output;
  auto again = cli(pack);
  EXPECT_EQ(1, again.status);
  EXPECT_NE(std::string::npos, again.output.find("--force")) << again.output;
  EXPECT_EQ(0, cli(pack + " --force").status);
}

// From a ZIP archive: names as amzip decodes them (CP437 here), repacked as UTF-8 with "/"
// separators; folders dropped. SourceArchive tells the packed file from the plain one.
TEST_F(PackTest, RepackedNamesAreDecodedLikeTheRunnerDoes) {
  std::string bytes = BuildZip({{.name = "index.html", .data = "<p>", .method = 8},
                                {.name = "\201ber.txt", .data = "cp437"},
                                {.name = "caf\xC3\xA9.txt", .data = "utf8", .flags = 0x0800},
                                {.name = "win\\path.txt", .data = "backslash"},
                                {.name = "folder/", .data = ""},
                                {.name = ".use_ie", .data = std::string("1\0", 2)}})
                          .bytes;
  ASSERT_EQ("", PackZip(bytes));
  const std::pair<const char*, const char*> expected[] = {{"index.html", "<p>"},
                                                          {"\303\274ber.txt", "cp437"},
                                                          {"caf\xC3\xA9.txt", "utf8"},
                                                          {"win/path.txt", "backslash"}};
  for (const auto& [name, data] : expected)
    EXPECT_EQ(data, testing::Unzip(dir_ / "out", name)) << name;
  std::string listing = ListOf(dir_ / "out");
  EXPECT_NE(std::string::npos, listing.find("5 entries, 23 bytes")) << listing;
  EXPECT_NE(std::string::npos, listing.find(".use_ie = \"1\"")) << "the source's own choice";
  EXPECT_EQ(std::string::npos, listing.find("folder")) << listing;

  SourceArchive plain, packed;
  ASSERT_EQ("", plain.Open(dir_ / "in.zip", true));
  EXPECT_FALSE(plain.Appended());
  EXPECT_EQ(bytes.size(), plain.Size());
  EXPECT_EQ("cp437", plain.ReadSmall(*plain.Zip().Entries().at(1), 5));
  EXPECT_FALSE(plain.ReadSmall(*plain.Zip().Entries()[1], 4));  // over the limit
  ASSERT_EQ("", packed.Open(dir_ / "out", true));
  EXPECT_TRUE(packed.Appended());
  EXPECT_EQ(fs::file_size(kProbe), packed.Start());
  EXPECT_EQ(fs::file_size(dir_ / "out"), packed.Start() + packed.Size() + 16);
  EXPECT_EQ("cannot open the file", SourceArchive().Open(dir_ / "none", true));
}

TEST_F(PackTest, UnusableEntriesAreRefusedByName) {
  const struct {
    TestEntry entry;
    const char* message;
  } cases[] = {
      // clang-format off
      {{.name = "secret.txt", .data = "x", .flags = 1}, "'secret.txt'"},  // encrypted
      {{.name = "b.txt", .data = "x", .method = 12}, "compression method"},
      {{.name = "far.txt", .data = "x", .localHeaderOffset = 0x10000}, "outside the archive"},
      {{.name = "long.txt", .data = "x", .compressedSize = 0x10000}, "outside the archive"},
      {{.name = "bad\xC3.txt", .data = "x", .flags = 0x0800}, "cannot be decoded"},
      {{.name = "../up.txt", .data = "x"}, "'../up.txt' from"},
      {{.name = "a/./b.txt", .data = "x"}, "cannot be served"},
      {{.name = "/etc/abs.txt", .data = "x"}, "it is absolute"},
      {{.name = "C:\\drive.txt", .data = "x"}, "it names a drive"},
      // A whole deflate stream that ends before the recorded size, and a wrong CRC-32.
      {{.name = "early.js", .data = std::string(5000, 'a'), .method = 8,
        .payload = amzip::testing::RawDeflate("aaa")}, "damaged entry 'early.js': its deflate data"},
      {{.name = "crc.js", .data = "x", .method = 8, .payload = amzip::testing::RawDeflate("y")},
       "damaged entry 'crc.js': its data does not match"},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::string bytes = BuildZip({{.name = "index.html", .data = "ok"}, c.entry}).bytes;
    std::string error = PackZip(bytes);
    EXPECT_NE(std::string::npos, error.find(c.message)) << c.entry.name << ": " << error;
  }
  for (const char* junk : {"short", "plain text that is long enough to be searched"}) {
    std::string error = PackZip(junk);
    EXPECT_NE(std::string::npos, error.find("not a ZIP archive")) << junk << ": " << error;
    error = ListOf(dir_ / "in.zip");
    EXPECT_NE(std::string::npos, error.find("not a ZIP archive")) << junk << ": " << error;
  }
}

// Links as authors mean them: stored under the link's own path with the target's bytes,
// linked folders walked, links out of the source followed with a warning; loops,
// dangling links and devices refused by path, before any output exists.
TEST_F(PackTest, LinksAreStoredUnderTheirOwnNames) {
  WriteText(dir_ / "shared/logo.txt", "logo");
  WriteText(dir_ / "shared/lib/x.js", "x()");
  fs::create_symlink("../shared/logo.txt", source_ / "logo.txt");
  fs::create_directory_symlink(dir_ / "shared/lib", source_ / "lib");
  fs::create_symlink("index.html", source_ / "again.html");
  fs::create_directory_symlink("deep/a", source_ / "a-link");
  PackResult r = Pack(Options("out"));
  ASSERT_TRUE(r.ok) << r.error;
  const fs::path out = dir_ / "out";
  EXPECT_EQ("logo", testing::Unzip(out, "logo.txt"));
  EXPECT_EQ("x()", testing::Unzip(out, "lib/x.js"));
  EXPECT_EQ(files_["index.html"], testing::Unzip(out, "again.html"));
  EXPECT_EQ(files_["deep/a/b/c/data.json"], testing::Unzip(out, "a-link/b/c/data.json"));
  std::string names = RunShell("unzip -Z1 " + Quoted(out), false).output;
  EXPECT_EQ(std::string::npos, names.find("..")) << names;
  EXPECT_EQ(std::string::npos, names.find("\n/")) << names;
  ASSERT_EQ(1u, r.warnings.size());
  EXPECT_NE(std::string::npos, r.warnings[0].find("outside the source")) << r.warnings[0];
  EXPECT_NE(std::string::npos, r.warnings[0].find("site/logo.txt'")) << r.warnings[0];
  EXPECT_NE(std::string::npos, r.warnings[0].find("site/lib'")) << r.warnings[0];
  EXPECT_EQ(std::string::npos, r.warnings[0].find("again")) << r.warnings[0];

  fs::remove(out);
  fs::create_directories(source_ / "m/n");
  const struct {
    const char* what;
    std::function<void()> make;
    std::vector<const char*> message;
  } cases[] = {
      {"link to an ancestor",
       [&] { fs::create_directory_symlink("../..", source_ / "m/n/up"); },
       {"site/m/n/up'", "link loop"}},
      {"two folders linking each other",
       [&] {
         fs::create_directories(source_ / "m/q");
         fs::create_directory_symlink("../q", source_ / "m/n/to-q");
         fs::create_directory_symlink("../n", source_ / "m/q/to-n");
       },
       {"link loop"}},
      {"link to itself", [&] { fs::create_symlink("self", source_ / "self"); }, {"site/self'"}},
      {"dangling link",
       [&] { fs::create_symlink("gone.js", source_ / "m/old.js"); },
       {"site/m/old.js' to 'gone.js' cannot be followed"}},
      {"device",
       [&] { fs::create_symlink("/dev/null", source_ / "null"); },
       {"site/null'", "neither a file nor a folder"}},
      {"name not UTF-8",
       [&] { WriteText(source_ / "m/bad\xFF\x01name.txt", ""); },
       {"site/m/bad\\xFF\\x01name.txt'", "not valid UTF-8"}},
  };
  for (const auto& c : cases) {
    fs::remove_all(source_ / "m");
    fs::remove(source_ / "self");
    fs::remove(source_ / "null");
    fs::create_directories(source_ / "m/n");
    c.make();
    PackResult failed = Pack(Options("out"));
    EXPECT_FALSE(failed.ok) << c.what;
    for (const char* part : c.message)
      EXPECT_NE(std::string::npos, failed.error.find(part)) << c.what << ": " << failed.error;
    ExpectOnlyIn({"site", "shared"});
  }
}

// Names the runner matches alike are listed; they are still packed.
TEST_F(PackTest, NamesDifferingOnlyInCaseAreListed) {
  WriteText(source_ / "Readme.txt", "1");
  WriteText(source_ / "README.TXT", "2");
  WriteText(source_ / "JS/App.js", "3");
  PackResult r = Pack(Options("out"));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(1u, r.warnings.size());
  EXPECT_NE(std::string::npos,
            r.warnings[0].find("'JS/App.js', 'js/app.js'; 'README.TXT', 'Readme.txt'"))
      << r.warnings[0];
  EXPECT_EQ(files_.size() + 3 + 1, r.entryCount);
}

// Refused from what the walk sees, before anything is read or compressed: a file beyond
// what a ZIP without ZIP64 holds (a sparse 5 GiB file), and more files than it counts.
TEST_F(PackTest, OversizedSourcesAreRefusedBeforeWork) {
  { std::ofstream(source_ / "big.mp4"); }
  fs::resize_file(source_ / "big.mp4", 5ull << 30);
  PackResult r = Pack(Options("out"));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(std::string::npos, r.error.find("site/big.mp4' is too large")) << r.error;
  ExpectOnlyIn({"site"});
  fs::remove(source_ / "big.mp4");

  std::vector<SourceFile> found;
  std::vector<std::string> warnings;
  EXPECT_NE(std::string::npos,
            ScanFolder(source_, {}, {3, 1 << 30}, found, warnings).find("too many files"));
  EXPECT_EQ(3u, found.size()) << "the walk stops at the limit";
  found.clear();
  std::string why = ScanFolder(source_, {}, {100, 50000}, found, warnings);
  EXPECT_NE(std::string::npos, why.find("clip.MP4' is too large: 200000 bytes")) << why;
}

// A signed runner loses its signature, with a warning; the output carries a correct
// header checksum and can be signed again. The runner is the branding probe (a PE) with
// the runner marker appended.
TEST_F(PackTest, SignedRunnerIsPackedUnsignedWithAChecksum) {
  WriteText(dir_ / "plain.exe",
            ReadText(testing::SourceFile("tools/pack/testdata/branding_probe.exe")) +
                "contentexe-runner:1");
  auto run = [&](const std::string& command) {
    return RunShell("cd " + Quoted(dir_.path()) + " && " + command);
  };
  auto made =
      run("openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
          "-subj /CN=cx-test 2>&1 && osslsigncode sign -certs cert.pem -key key.pem -in plain.exe "
          "-out signed.exe");
  ASSERT_EQ(0, made.status) << made.output;
  PackOptions o = Options("out.exe");
  o.stub = dir_ / "signed.exe";
  o.name = "Atlas";
  PackResult r = Pack(o);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(1u, r.warnings.size());
  EXPECT_NE(std::string::npos, r.warnings[0].find("was signed; the signature was removed"))
      << r.warnings[0];
  std::string packed = ReadText(o.output);
  std::vector<uint8_t> bytes(packed.begin(), packed.end());
  std::vector<uint8_t> copy = bytes;
  EXPECT_FALSE(DropSignature(copy)) << "no certificate table is left";
  // The checksum as osslsigncode computes it, which leaves out an odd last byte (here the
  // footer's zero top byte) and so counts the length one short, where the loader's
  // CheckSumMappedFile counts the byte as a word of its own.
  auto verify = run("osslsigncode verify -in out.exe");
  EXPECT_NE(0, verify.status) << verify.output;
  size_t current = verify.output.find("Current PE checksum   : ");
  size_t calculated = verify.output.find("Calculated PE checksum: ");
  ASSERT_NE(std::string::npos, current) << verify.output;
  ASSERT_NE(std::string::npos, calculated) << verify.output;
  ASSERT_EQ(0, packed.back());
  EXPECT_EQ(std::stoul(verify.output.substr(current + 24, 8), nullptr, 16),
            std::stoul(verify.output.substr(calculated + 24, 8), nullptr, 16) + packed.size() % 2);
  auto again =
      run("osslsigncode sign -certs cert.pem -key key.pem -in out.exe -out resigned.exe "
          "&& osslsigncode verify -CAfile cert.pem -in resigned.exe");
  EXPECT_EQ(0, again.status) << again.output;
}

// SIGINT, SIGTERM and SIGHUP while the packer writes: the temporary output goes, the
// packer says why and ends with 128 plus the signal's number.
TEST_F(PackTest, InterruptedPackLeavesNothing) {
  ASSERT_EQ(0, RunShell("head -c 48000000 /dev/urandom > " + Quoted(source_ / "noise.dat")).status);
  for (const auto& [name, status] :
       {std::pair<std::string, int>{"INT", 130}, std::pair<std::string, int>{"TERM", 143},
        std::pair<std::string, int>{"HUP", 129}}) {
    // The signal goes once the temporary file exists (polled for up to 20 s).
    auto run = RunShell("exec 2>&1; " + Quoted(kPacker) + " " + Quoted(source_) + " -o " +
                        Quoted(dir_ / "out") + " --stub " + Quoted(kProbe) +
                        " & pid=$!; for i in $(seq 400); do ls " + Quoted(dir_.path()) +
                        " | grep -q tmp- && break; sleep 0.05; done; kill -" + name +
                        " $pid; wait $pid; echo \"status=$?\"");
    EXPECT_NE(std::string::npos, run.output.find("interrupted by SIG" + name + ";")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("status=" + std::to_string(status))) << run.output;
    ExpectOnlyIn({"site"});
  }
}

TEST(Progress, ShorterLinesCoverTheLongerOnesWithoutEscapes) {
  std::FILE* out = std::tmpfile();
  ASSERT_TRUE(out);
  {
    Progress progress(out, 1 << 20, 2);
    progress.AddBytes(1 << 20);
    progress.Finish();
  }
  std::rewind(out);
  char text[256] = {};
  size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  std::string line(text, n);
  EXPECT_EQ("\r1.0 MiB of 1.0 MiB, 0 of 2 files", line.substr(0, 33)) << line;
  EXPECT_EQ(std::string::npos, line.find('\033')) << line;
  size_t shown = 0;
  EXPECT_EQ("long line", Progress::Cover("long line", shown));
  EXPECT_EQ("short    ", Progress::Cover("short", shown));
  EXPECT_EQ("x    ", Progress::Cover("x", shown)) << "covers the last line shown";
}

}  // namespace
}  // namespace pack
