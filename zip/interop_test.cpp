// Archives made by real tools (Info-ZIP zip, 7z, bsdtar, Python's zipfile), read entry by
// entry and compared with what Info-ZIP unzip extracts from the same archive.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "utils/encoding.h"
#include "zip/archive.h"

namespace amzip {
namespace {

// Runs a POSIX shell command; its output, and its status when asked.
std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[65536];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) out.append(buffer, n);
  int rc = pipe ? pclose(pipe) : -1;
  if (status) *status = rc;
  return out;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }  // no quotes in our paths

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One extracted entry, or "<code N>".
std::string Get(Archive& archive, const std::u16string& name) {
  MemCreator creator;
  archive.Extract(creator, name, u"x");
  int32_t code = archive.LastError().code;
  return code ? "<code " + std::to_string(code) + ">" : *creator.Find(u"x");
}

class InteropTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifndef _WIN32
    dir_ = ::testing::TempDir() + "amzip_interop_" + std::to_string(getpid());
    std::string src = dir_ + "/src";
    Shell("mkdir -p " + Quote(src + "/sub/deeper"));
    std::ofstream(src + "/hello.txt") << "Hello, world\n";
    std::ofstream(src + "/empty.txt");
    std::ofstream(src + "/caf\xc3\xa9 \xe2\x82\xac.txt") << "non-ASCII name\n";
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    std::ofstream(src + "/sub/text.txt") << text;
    Shell("head -c 300000 /dev/urandom > " + Quote(src + "/sub/deeper/random.bin"));
#endif
  }
  static void TearDownTestSuite() {
    if (!dir_.empty()) Shell("rm -rf " + Quote(dir_));
  }

  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "needs the Linux archivers";
#else
    int status = 0;
    Shell("command -v zip unzip 7z bsdtar python3 >/dev/null 2>&1", &status);
    if (status != 0) GTEST_SKIP() << "zip, unzip, 7z, bsdtar and python3 are needed";
#endif
  }

  // Runs a shell command in the source folder; the archive goes to dir_/name.
  std::string Make(const std::string& name, const std::string& command) {
    std::string archive = dir_ + "/" + name;
    int status = 0;
    Shell("cd " + Quote(dir_ + "/src") + " && rm -f " + Quote(archive) + " && ( " + command +
              " ) >/dev/null 2>&1",
          &status);
    EXPECT_EQ(status, 0) << command;
    return archive;
  }

  // Every file entry, extracted from the file and streamed from memory, equals unzip -p's
  // output (from `reference`, when path is the first part of a split archive). Returns
  // the number of entries compared.
  int CompareWithUnzip(const std::string& path, const std::string& reference = "") {
    const std::string& unzipped = reference.empty() ? path : reference;
    Archive file, memory;
    EXPECT_EQ(file.OpenFile(utils::Utf8ToWide(path)), 0) << path;
    std::string bytes = ReadFile(unzipped);
    if (reference.empty()) {
      EXPECT_EQ(memory.OpenMemory(bytes.data(), bytes.size(), u"ZIP"), 0);
    }
    std::istringstream list(Shell("unzip -Z1 " + Quote(unzipped)));
    int compared = 0;
    for (std::string name; std::getline(list, name);) {
      if (name.empty() || name.back() == '/') continue;
      std::string pattern;  // unzip -p takes wildcards: escape them
      for (char c : name)
        pattern += std::strchr("[*?", c) ? std::string{'[', c, ']'} : std::string(1, c);
      std::string expected = Shell("unzip -p " + Quote(unzipped) + " " + Quote(pattern));
      std::u16string wide = utils::Utf8ToWide(name);
      EXPECT_TRUE(Get(file, wide) == expected) << path << ": " << name;
      if (memory.IsOpen()) {
        auto stream = memory.OpenEntryStream(wide);
        std::string streamed(stream ? stream->GetSize() : 0, '\0');
        EXPECT_EQ(stream ? stream->Read(streamed.data(), uint32_t(streamed.size())) : 99,
                  expected.size());
        EXPECT_TRUE(streamed == expected) << "stream " << name;
      }
      ++compared;
    }
    return compared;
  }

  static std::string dir_;
};

std::string InteropTest::dir_;

TEST_F(InteropTest, InfoZipDeflateStoreZip64AndComments) {
  EXPECT_EQ(CompareWithUnzip(Make("deflate.zip", "zip -r -q ../deflate.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("store.zip", "zip -0 -r -q ../store.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("zip64.zip", "zip -fz -r -q ../zip64.zip .")), 5);
  std::string commented =
      Make("comment.zip",
           "zip -r -q ../comment.zip . && printf 'archive note\\n' | zip -z ../comment.zip && "
           "printf 'c1\\nc2\\nc3\\nc4\\nc5\\nc6\\nc7\\nc8\\n' | zip -c ../comment.zip hello.txt "
           "sub/text.txt");
  EXPECT_EQ(CompareWithUnzip(commented), 5);
  Archive archive;
  ASSERT_EQ(archive.OpenFile(utils::Utf8ToWide(commented)), 0);
  EXPECT_EQ(archive.Comment(), "archive note");
  ASSERT_NE(archive.FindEntry(u"HELLO.TXT"), nullptr);
  EXPECT_EQ(archive.FindEntry(u"HELLO.TXT")->rawComment, "c1");
  // zip 3 keeps the name's bytes and adds the UTF-8 name in a Unicode Path field.
  EXPECT_NE(archive.FindEntry(u"caf\u00e9 \u20ac.txt"), nullptr);
}

TEST_F(InteropTest, InfoZipStreamedWithDataDescriptors) {
  std::string streamed =
      Make("streamed.zip",
           "zip -q - hello.txt sub/text.txt sub/deeper/random.bin | cat > ../streamed.zip");
  EXPECT_EQ(CompareWithUnzip(streamed), 3);
  Archive archive;
  ASSERT_EQ(archive.OpenFile(utils::Utf8ToWide(streamed)), 0);
  EXPECT_TRUE(archive.FindEntry(u"sub/text.txt")->flags & 0x0008);
  // Without its directory the archive is still readable by scanning local headers.
  std::string bytes = ReadFile(streamed);
  std::string cut = bytes.substr(0, bytes.find(std::string("PK\x01\x02", 4)));
  Archive scanned;
  scanned.OpenMemory(cut.data(), cut.size(), u"ZIP");
  EXPECT_EQ(scanned.Entries().size(), 3u);
  EXPECT_EQ(Get(scanned, u"sub/deeper/random.bin"), ReadFile(dir_ + "/src/sub/deeper/random.bin"));
}

TEST_F(InteropTest, InfoZipSplitArchives) {
  std::string split = Make("split.zip", "zip -s 100k -r -q ../split.zip .");
  std::string joined = Make("joined.zip", "zip -q -s 0 ../split.zip --out ../joined.zip");
  ASSERT_EQ(Shell("ls " + Quote(dir_) + " | grep -c 'split.z0'"), "3\n");
  EXPECT_EQ(CompareWithUnzip(split, joined), 5);
  // Opening the first part finds the last one.
  Archive archive;
  std::string first = dir_ + "/split.z01";
  EXPECT_EQ(archive.OpenFile(utils::Utf8ToWide(first)), 0);
  EXPECT_EQ(archive.Name(), utils::Utf8ToWide(split));
  EXPECT_EQ(Get(archive, u"sub/deeper/random.bin"), ReadFile(dir_ + "/src/sub/deeper/random.bin"));
  // A missing middle part.
  Shell("mv " + Quote(dir_ + "/split.z02") + " " + Quote(dir_ + "/moved.z02"));
  Archive broken;
  broken.OpenFile(utils::Utf8ToWide(split));
  EXPECT_EQ(Get(broken, u"sub/deeper/random.bin"),
            "<code " + std::to_string(AZERROR_MISSING_PART) + ">");
  Shell("mv " + Quote(dir_ + "/moved.z02") + " " + Quote(dir_ + "/split.z02"));
  // A first part already named .zip cannot lead anywhere.
  Shell("cp " + Quote(first) + " " + Quote(dir_ + "/firstpart.zip"));
  Archive misnamed;
  EXPECT_EQ(misnamed.OpenFile(utils::Utf8ToWide(dir_ + "/firstpart.zip")),
            AZERROR_CANT_FIND_CENTRALDIR);
}

TEST_F(InteropTest, SevenZipAndBsdtar) {
  EXPECT_EQ(CompareWithUnzip(Make("7z.zip", "7z a -tzip ../7z.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("7z-store.zip", "7z a -tzip -mx=0 ../7z-store.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("bsdtar.zip", "bsdtar -a -cf ../bsdtar.zip .")), 5);
}

TEST_F(InteropTest, PythonZip64LongCommentAndDuplicates) {
  std::ofstream(dir_ + "/make.py")
      << "import zipfile, warnings\n"
         "warnings.simplefilter('ignore')\n"
         "with zipfile.ZipFile('../py.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
         "    z.comment = b'C' * 65535\n"
         "    with z.open('forced.txt', 'w', force_zip64=True) as f: f.write(b'forced' * 1000)\n"
         "    z.writestr('dup.txt', b'first copy')\n"
         "    z.writestr('DUP.txt', b'second copy')\n"
         "    z.writestr('dup.txt', b'third copy')\n"
         "    z.write('sub/text.txt', 'sub/text.txt', zipfile.ZIP_STORED)\n";
  Archive archive;
  ASSERT_EQ(archive.OpenFile(utils::Utf8ToWide(Make("py.zip", "python3 ../make.py"))), 0);
  EXPECT_EQ(archive.Comment(), std::string(65535, 'C'));
  EXPECT_EQ(archive.Entries().size(), 5u);
  std::string forced;
  for (int i = 0; i < 1000; ++i) forced += "forced";
  EXPECT_EQ(Get(archive, u"forced.txt"), forced);
  EXPECT_EQ(Get(archive, u"dup.TXT"), "first copy");  // the first of the duplicates
  EXPECT_EQ(Get(archive, u"sub\\text.txt"), ReadFile(dir_ + "/src/sub/text.txt"));
}

}  // namespace
}  // namespace amzip
