// Archives made by real tools (Info-ZIP zip, 7z, bsdtar, Python's zipfile), read entry by
// entry, extracted from the file and streamed from memory, and compared with the files
// they were made from.
#include <gtest/gtest.h>

#include "testing/pack_util.h"
#include "testing/zip_builder.h"
#include "utils/encoding.h"
#include "zip/archive.h"
#include "zip/format.h"

namespace amzip {
namespace {

namespace fs = std::filesystem;
using pack::testing::Quoted;
using pack::testing::ReadText;

// One extracted entry, or "<code N>".
std::string Get(Archive& archive, const std::u16string& name) {
  MemCreator creator;
  archive.Extract(creator, name, u"x");
  int32_t code = archive.LastError().code;
  return code ? "<code " + std::to_string(code) + ">" : *creator.Find(u"x");
}

const char* const kFiles[] = {"hello.txt", "empty.txt", "caf\xc3\xa9 \xe2\x82\xac.txt",
                              "sub/text.txt", "sub/deeper/random.bin"};

class InteropTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new pack::testing::TempDir();
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    const std::string data[] = {"Hello, world\n", "", "non-ASCII name\n", text,
                                pack::testing::RandomBytes(300000, 1)};
    for (int i = 0; i < 5; ++i) pack::testing::WriteText(*dir_ / "src" / kFiles[i], data[i]);
  }
  static void TearDownTestSuite() { delete dir_; }

  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "needs the Linux archivers";
#endif
    if (pack::testing::RunShell("command -v zip 7z bsdtar python3").status != 0)
      GTEST_SKIP() << "zip, 7z, bsdtar and python3 are needed";
  }

  // Runs a shell command in the source folder; the archive goes to dir_/name.
  static std::string Make(const std::string& name, const std::string& command) {
    std::string archive = (*dir_ / name).string();
    auto made = pack::testing::RunShell("cd " + Quoted(*dir_ / "src") + " && ( " + command +
                                        " ) >/dev/null");
    EXPECT_EQ(made.status, 0) << command << made.output;
    return archive;
  }

  // Every file, extracted from the archive file and streamed from it in memory (unless
  // it is split), equals the file it was made from.
  static void ExpectAllFiles(const std::string& path, bool split = false) {
    Archive file, memory;
    EXPECT_EQ(file.OpenFile(utils::Utf8ToWide(path)), 0) << path;
    std::string bytes = ReadText(path);
    if (!split) {
      EXPECT_EQ(memory.OpenMemory(bytes.data(), bytes.size(), u"ZIP"), 0);
    }
    for (const char* name : kFiles) {
      std::string expected = ReadText(*dir_ / "src" / name);
      std::u16string wide = utils::Utf8ToWide(name);
      EXPECT_TRUE(Get(file, wide) == expected) << path << ": " << name;
      if (split) continue;
      auto stream = memory.OpenEntryStream(wide);
      std::string streamed(stream ? stream->GetSize() : 0, '\0');
      EXPECT_EQ(stream ? stream->Read(streamed.data(), uint32_t(streamed.size())) : 99,
                expected.size());
      EXPECT_TRUE(streamed == expected) << path << ": stream " << name;
    }
  }

  static inline pack::testing::TempDir* dir_ = nullptr;
};

TEST_F(InteropTest, InfoZip7zAndBsdtarArchives) {
  ExpectAllFiles(Make("7z.zip", "7z a -tzip ../7z.zip ."));
  ExpectAllFiles(Make("bsdtar.zip", "bsdtar -a -cf ../bsdtar.zip *"));
  ExpectAllFiles(Make("store.zip", "zip -0 -r -q ../store.zip ."));
  ExpectAllFiles(Make("zip64.zip", "zip -fz -r -q ../zip64.zip ."));
  // Piped: data descriptors after every entry.
  ExpectAllFiles(Make("streamed.zip", "zip -q -r - . | cat > ../streamed.zip"));
  std::string commented = Make("comment.zip",
                               "zip -r -q ../comment.zip . && printf 'archive note\\n' | "
                               "zip -z ../comment.zip && printf 'c1\\n' | zip -c "
                               "../comment.zip hello.txt");
  ExpectAllFiles(commented);
  Archive archive;
  ASSERT_EQ(archive.OpenFile(utils::Utf8ToWide(commented)), 0);
  EXPECT_EQ(archive.Comment(), "archive note");
  ASSERT_NE(archive.FindEntry(u"HELLO.TXT"), nullptr);
  EXPECT_EQ(archive.FindEntry(u"HELLO.TXT")->rawComment, "c1");
  // zip 3 keeps the name's bytes and adds the UTF-8 name in a Unicode Path field.
  EXPECT_NE(archive.FindEntry(u"caf\u00e9 \u20ac.txt"), nullptr);
  // Encrypted entries (traditional PKWARE, AES as method 99) are refused, not served.
  for (const char* command : {"zip -q -P secret ../crypt.zip hello.txt",
                              "7z a -tzip -psecret -mem=AES256 ../crypt.zip hello.txt"}) {
    fs::remove(*dir_ / "crypt.zip");
    Archive locked;
    ASSERT_EQ(locked.OpenFile(utils::Utf8ToWide(Make("crypt.zip", command))), 0) << command;
    EXPECT_FALSE(locked.OpenEntryStream(u"hello.txt")) << command;
    EXPECT_EQ(Get(locked, u"hello.txt"), "<code " + std::to_string(AZERROR_ENCRYPTED) + ">");
  }
}

// End records as some writers leave them, made by editing an archive of `zip -fz` (which
// writes a ZIP64 end record and its locator): every classic field at its ZIP64 marker,
// disk numbers included; and a classic record that is wrong while the ZIP64 records are
// sound. bsdtar reads both, and so must we, byte for byte; with the ZIP64 record wrong
// as well, the archive is refused.
TEST_F(InteropTest, EndRecordsOtherReadersAccept) {
  const std::string made = ReadText(Make("end64.zip", "zip -fz -r -q ../end64.zip ."));
  const size_t end = made.rfind("PK\x05\x06");
  ASSERT_NE(end, std::string::npos);
  ASSERT_EQ(Le32(reinterpret_cast<const uint8_t*>(made.data()) + end - kZip64LocatorSize),
            kSigZip64Locator);
  const size_t zip64 = end - kZip64LocatorSize - kZip64EndSize;
  // Classic fields after the signature: disk, directory's disk, entries here, entries,
  // directory size, directory offset.
  auto edit = [&](const std::string& name, std::vector<uint64_t> fields, uint64_t zip64Offset) {
    std::string bytes = made;
    const int widths[] = {2, 2, 2, 2, 4, 4};
    size_t at = end + 4;
    for (int i = 0; i < 6; ++i) {
      testing::Patch(bytes, at, fields[i], widths[i]);
      at += widths[i];
    }
    if (zip64Offset) testing::Patch(bytes, zip64 + 48, zip64Offset, 8);
    pack::testing::WriteText(*dir_ / name, bytes);
    return (*dir_ / name).string();
  };
  const uint64_t n = Le64(reinterpret_cast<const uint8_t*>(made.data()) + zip64 + 32);
  const std::string markers =
      edit("markers.zip", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, kMarker32, kMarker32}, 0);
  const std::string otherDisk = edit("otherdisk.zip", {0, 1, n, n, kMarker32, kMarker32}, 0);
  const std::string wrong = edit("wrong.zip", {0, 0, 2, 3, 999, 12345}, 0);
  for (const std::string& path : {markers, otherDisk, wrong}) {
    SCOPED_TRACE(path);
    auto other = pack::testing::RunShell("bsdtar -xOf " + Quoted(path) + " sub/text.txt", false);
    EXPECT_EQ(other.status, 0);
    EXPECT_TRUE(other.output == ReadText(*dir_ / "src/sub/text.txt")) << "bsdtar";
    ExpectAllFiles(path);
  }
  // Both records wrong, or the ZIP64 record missing behind all-marker fields.
  std::string bothWrong = edit("bothwrong.zip", {0, 1, n, n, 999, 12345}, 77);
  std::string unmarked = made;
  unmarked[zip64] = 'X';
  testing::Patch(unmarked, end + 4, 0xFFFF, 2);
  testing::Patch(unmarked, end + 6, 0xFFFF, 2);
  pack::testing::WriteText(*dir_ / "unmarked.zip", unmarked);
  for (const std::string& path : {bothWrong, (*dir_ / "unmarked.zip").string()}) {
    Archive archive;
    archive.OpenFile(utils::Utf8ToWide(path));
    EXPECT_NE(Get(archive, u"sub/text.txt"), ReadText(*dir_ / "src/sub/text.txt")) << path;
  }
}

TEST_F(InteropTest, InfoZipSplitArchives) {
  std::string split = Make("split.zip", "zip -s 100k -r -q ../split.zip .");
  ASSERT_TRUE(fs::exists(*dir_ / "split.z03") && !fs::exists(*dir_ / "split.z04"));
  ExpectAllFiles(split, true);
  // Opening the first part finds the last one.
  Archive archive;
  std::string first = (*dir_ / "split.z01").string();
  EXPECT_EQ(archive.OpenFile(utils::Utf8ToWide(first)), 0);
  EXPECT_EQ(archive.Name(), utils::Utf8ToWide(split));
  EXPECT_EQ(Get(archive, u"sub/deeper/random.bin"), ReadText(*dir_ / "src/sub/deeper/random.bin"));
  // A missing middle part.
  fs::rename(*dir_ / "split.z02", *dir_ / "moved.z02");
  Archive broken;
  broken.OpenFile(utils::Utf8ToWide(split));
  EXPECT_EQ(Get(broken, u"sub/deeper/random.bin"),
            "<code " + std::to_string(AZERROR_MISSING_PART) + ">");
  // A first part already named .zip cannot lead anywhere.
  fs::copy_file(first, *dir_ / "firstpart.zip");
  Archive misnamed;
  EXPECT_EQ(misnamed.OpenFile((*dir_ / "firstpart.zip").u16string()), AZERROR_CANT_FIND_CENTRALDIR);
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
  EXPECT_EQ(Get(archive, u"sub\\text.txt"), ReadText(*dir_ / "src/sub/text.txt"));
}

}  // namespace
}  // namespace amzip
