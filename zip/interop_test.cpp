// Archives made by real tools (Info-ZIP zip, 7z, bsdtar, Python's zipfile), read entry by
// entry and compared with what Info-ZIP unzip extracts from the same archive.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "testing/pack_util.h"
#include "utils/encoding.h"
#include "zip/archive.h"

namespace amzip {
namespace {

using pack::testing::Quoted;
using pack::testing::ReadText;

std::string Shell(const std::string& command) {
  return pack::testing::RunShell(command, false).output;
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
    dir_ = new pack::testing::TempDir();
    src_ = *dir_ / "src";
    pack::testing::WriteText(src_ / "hello.txt", "Hello, world\n");
    pack::testing::WriteText(src_ / "empty.txt", "");
    pack::testing::WriteText(src_ / "caf\xc3\xa9 \xe2\x82\xac.txt", "non-ASCII name\n");
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    pack::testing::WriteText(src_ / "sub/text.txt", text);
    pack::testing::WriteText(src_ / "sub/deeper/random.bin", pack::testing::RandomBytes(300000, 1));
  }
  static void TearDownTestSuite() { delete dir_; }

  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "needs the Linux archivers";
#endif
    if (pack::testing::RunShell("command -v zip unzip 7z bsdtar python3").status != 0)
      GTEST_SKIP() << "zip, unzip, 7z, bsdtar and python3 are needed";
  }

  // Runs a shell command in the source folder; the archive goes to dir_/name.
  std::string Make(const std::string& name, const std::string& command) {
    std::string archive = (*dir_ / name).string();
    auto made = pack::testing::RunShell("cd " + Quoted(src_) + " && rm -f " + Quoted(archive) +
                                        " && ( " + command + " ) >/dev/null");
    EXPECT_EQ(made.status, 0) << command << made.output;
    return archive;
  }
  static std::string Random() { return ReadText(src_ / "sub/deeper/random.bin"); }

  // Every file entry, extracted from the file and streamed from memory, equals unzip -p's
  // output (from `reference`, when path is the first part of a split archive). Returns
  // the number of entries compared.
  int CompareWithUnzip(const std::string& path, const std::string& reference = "") {
    const std::string& unzipped = reference.empty() ? path : reference;
    Archive file, memory;
    EXPECT_EQ(file.OpenFile(utils::Utf8ToWide(path)), 0) << path;
    std::string bytes = ReadText(unzipped);
    if (reference.empty()) {
      EXPECT_EQ(memory.OpenMemory(bytes.data(), bytes.size(), u"ZIP"), 0);
    }
    std::istringstream list(Shell("unzip -Z1 " + Quoted(unzipped)));
    int compared = 0;
    for (std::string name; std::getline(list, name);) {
      if (name.empty() || name.back() == '/') continue;
      std::string pattern;  // unzip -p takes wildcards: escape them
      for (char c : name)
        pattern += std::strchr("[*?", c) ? std::string{'[', c, ']'} : std::string(1, c);
      std::string expected = Shell("unzip -p " + Quoted(unzipped) + " '" + pattern + "'");
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

  static inline pack::testing::TempDir* dir_ = nullptr;
  static inline std::filesystem::path src_;
};

TEST_F(InteropTest, InfoZipDeflateStoreZip64StreamedAndComments) {
  EXPECT_EQ(CompareWithUnzip(Make("deflate.zip", "zip -r -q ../deflate.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("store.zip", "zip -0 -r -q ../store.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("zip64.zip", "zip -fz -r -q ../zip64.zip .")), 5);
  // Piped: data descriptors after every entry.
  EXPECT_EQ(CompareWithUnzip(Make("streamed.zip", "zip -q -r - . | cat > ../streamed.zip")), 5);
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

TEST_F(InteropTest, InfoZipSplitArchives) {
  std::string split = Make("split.zip", "zip -s 100k -r -q ../split.zip .");
  std::string joined = Make("joined.zip", "zip -q -s 0 ../split.zip --out ../joined.zip");
  ASSERT_EQ(Shell("ls " + Quoted(dir_->path()) + " | grep -c 'split.z0'"), "3\n");
  EXPECT_EQ(CompareWithUnzip(split, joined), 5);
  // Opening the first part finds the last one.
  Archive archive;
  std::string first = (*dir_ / "split.z01").string();
  EXPECT_EQ(archive.OpenFile(utils::Utf8ToWide(first)), 0);
  EXPECT_EQ(archive.Name(), utils::Utf8ToWide(split));
  EXPECT_EQ(Get(archive, u"sub/deeper/random.bin"), Random());
  // A missing middle part.
  std::filesystem::rename(*dir_ / "split.z02", *dir_ / "moved.z02");
  Archive broken;
  broken.OpenFile(utils::Utf8ToWide(split));
  EXPECT_EQ(Get(broken, u"sub/deeper/random.bin"),
            "<code " + std::to_string(AZERROR_MISSING_PART) + ">");
  std::filesystem::rename(*dir_ / "moved.z02", *dir_ / "split.z02");
  // A first part already named .zip cannot lead anywhere.
  std::filesystem::copy_file(first, *dir_ / "firstpart.zip");
  Archive misnamed;
  EXPECT_EQ(misnamed.OpenFile((*dir_ / "firstpart.zip").u16string()), AZERROR_CANT_FIND_CENTRALDIR);
}

TEST_F(InteropTest, SevenZipAndBsdtar) {
  EXPECT_EQ(CompareWithUnzip(Make("7z.zip", "7z a -tzip ../7z.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("7z-store.zip", "7z a -tzip -mx=0 ../7z-store.zip .")), 5);
  EXPECT_EQ(CompareWithUnzip(Make("bsdtar.zip", "bsdtar -a -cf ../bsdtar.zip .")), 5);
}

TEST_F(InteropTest, PythonZip64LongCommentAndDuplicates) {
  pack::testing::WriteText(
      *dir_ / "make.py",
      "import zipfile, warnings\n"
      "warnings.simplefilter('ignore')\n"
      "with zipfile.ZipFile('../py.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "    z.comment = b'C' * 65535\n"
      "    with z.open('forced.txt', 'w', force_zip64=True) as f: f.write(b'forced' * 1000)\n"
      "    z.writestr('dup.txt', b'first copy')\n"
      "    z.writestr('DUP.txt', b'second copy')\n"
      "    z.writestr('dup.txt', b'third copy')\n"
      "    z.write('sub/text.txt', 'sub/text.txt', zipfile.ZIP_STORED)\n");
  Archive archive;
  ASSERT_EQ(archive.OpenFile(utils::Utf8ToWide(Make("py.zip", "python3 ../make.py"))), 0);
  EXPECT_EQ(archive.Comment(), std::string(65535, 'C'));
  EXPECT_EQ(archive.Entries().size(), 5u);
  std::string forced;
  for (int i = 0; i < 1000; ++i) forced += "forced";
  EXPECT_EQ(Get(archive, u"forced.txt"), forced);
  EXPECT_EQ(Get(archive, u"dup.TXT"), "first copy");  // the first of the duplicates
  EXPECT_EQ(Get(archive, u"sub\\text.txt"), ReadText(src_ / "sub/text.txt"));
}

}  // namespace
}  // namespace amzip
