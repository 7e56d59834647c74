#include "content/piggyback.h"

#include <gtest/gtest.h>

#include "testing/pack_util.h"
#include "testing/program_builder.h"

namespace {

namespace fs = std::filesystem;
using content::testing::AppendArchive;
using content::testing::Bytes;
using pack::testing::Quoted;
using pack::testing::RunShell;
using pack::testing::TempDir;

void WriteFile(const fs::path& path, const Bytes& bytes) {
  pack::testing::WriteText(path, std::string(bytes.begin(), bytes.end()));
}

Bytes TestArchive() {
  return content::testing::MakeStoredZip({{"index.html", "<html>hello</html>"},
                                          {"media/big.bin", pack::testing::RandomBytes(70000, 5)}});
}

// Opens path, expects the archive mapped as found at start, and closes it.
void ExpectMapped(const fs::path& path, uint64_t start, const Bytes& archive) {
  PiggyBackArchive piggy;
  ASSERT_TRUE(piggy.OpenFile(path.u16string()));
  EXPECT_EQ(start, piggy.GetStart());
  ASSERT_EQ(archive.size(), piggy.GetSize());
  EXPECT_EQ(0, std::memcmp(piggy.GetData(), archive.data(), archive.size()));
  // The view starts on a granularity boundary: data sits start % g bytes into it.
  EXPECT_EQ(start % utils::MappedFile::Granularity(),
            uintptr_t(piggy.GetData()) % utils::MappedFile::Granularity());
  EXPECT_TRUE(piggy.Close());
  EXPECT_TRUE(piggy.GetData() == nullptr && piggy.GetSize() == 0);
}

TEST(PiggyBackArchiveTest, FindsArchivesAtAlignedAndUnalignedStarts) {
  TempDir dir;
  const uint64_t g = utils::MappedFile::Granularity();
  for (uint64_t imageSize : {uint64_t(0), g - 1, g, 3 * g + g / 2 + 3}) {
    SCOPED_TRACE(imageSize);
    WriteFile(dir / "program.bin", AppendArchive(Bytes(imageSize, 0xE9), TestArchive()));
    ExpectMapped(dir / "program.bin", imageSize, TestArchive());
  }
}

// Footers the locator refuses are footer_test.cpp's; here, files that cannot be mapped, and
// the test program itself, which carries no archive: nothing stays mapped.
TEST(PiggyBackArchiveTest, FailuresLeaveNothingMappedAndCloseSucceeds) {
  TempDir dir;
  WriteFile(dir / "empty.bin", {});
  for (const fs::path& path : {dir / "empty.bin", dir / "none", dir.path()}) {
    PiggyBackArchive piggy;
    EXPECT_FALSE(piggy.OpenFile(path.u16string())) << path;
    EXPECT_EQ(nullptr, piggy.GetData()) << path;
    EXPECT_TRUE(piggy.Close() && piggy.Close()) << path;
  }
  PiggyBackArchive self;
  EXPECT_FALSE(self.Open());
  EXPECT_TRUE(self.Close());
}

// Packs a PE, signs it with osslsigncode and a throwaway certificate, and opens it.
TEST(SignedProgramFileTest, ArchiveIsFoundBeforeARealAuthenticodeSignature) {
#ifdef _WIN32
  GTEST_SKIP() << "osslsigncode and openssl are host tools";
#endif
  if (RunShell("osslsigncode --version && openssl version").status != 0)
    GTEST_SKIP() << "osslsigncode and openssl are needed";
  TempDir dir;
  const fs::path key = dir / "key.pem", cert = dir / "cert.pem";
  auto made =
      RunShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=cx-test -keyout " +
               Quoted(key) + " -out " + Quoted(cert));
  ASSERT_EQ(0, made.status) << made.output;
  Bytes archive = TestArchive();
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    // Odd lengths so the signing tool has to pad before the certificate table.
    Bytes image = content::testing::MakePe(plus);
    image.insert(image.end(), 5, 0x90);
    Bytes packed = AppendArchive(image, archive);
    fs::path unsignedFile = dir / "packed.exe", signedFile = dir / (plus ? "s64.exe" : "s32.exe");
    WriteFile(unsignedFile, packed);
    auto sign = RunShell("osslsigncode sign -certs " + Quoted(cert) + " -key " + Quoted(key) +
                         " -in " + Quoted(unsignedFile) + " -out " + Quoted(signedFile));
    ASSERT_EQ(0, sign.status) << sign.output;
    std::string signedBytes = pack::testing::ReadText(signedFile);
    ASSERT_GT(signedBytes.size(), packed.size() + 100);
    // The plain rule alone cannot see the footer any more.
    EXPECT_FALSE(content::ParseFooter(reinterpret_cast<const uint8_t*>(signedBytes.data()) +
                                      signedBytes.size() - 16));
    ExpectMapped(signedFile, image.size(), archive);
  }
}

}  // namespace
