#include "content/piggyback.h"

#include <gtest/gtest.h>

#include "testing/pack_util.h"
#include "testing/program_builder.h"
#include "testing/zip_builder.h"
#include "zip/archive.h"
#include "zip/source.h"

#include <zlib.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using content::testing::AppendArchive;
using content::testing::Bytes;
using amzip::testing::ReadAll;
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

// A program whose archive holds 3 GiB (sparse on disk): an entry of 3 GiB of zeros, then one
// whose header lies past 3 GiB. It opens and serves both ends, mapped (64-bit) and read in
// place (as a 32-bit process reads it), since nothing takes an offset as 31 bits.
TEST(PiggyBackArchiveTest, ArchivesBetweenTwoAndFourGiB) {
  TempDir dir;
  if (fs::space(dir.path()).available < (1ull << 30)) GTEST_SKIP() << "less than 1 GiB free";
  using amzip::testing::Put16;
  using amzip::testing::Put32;
  const uint64_t big = 3ull << 30;
  uint32_t zeros = uint32_t(crc32(0, nullptr, 0));
  {
    const std::string kilo(1024, '\0');
    zeros = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(kilo.data()), 1024));
    for (uint64_t n = 1024; n < (1ull << 30); n *= 2) zeros = uint32_t(crc32_combine(zeros, zeros, n));
    const uint32_t gib = zeros;  // 1 GiB of zeros, then 2 and 3
    for (int i = 1; i < 3; ++i) zeros = uint32_t(crc32_combine(zeros, gib, 1ull << 30));
  }
  const std::string last = "the last bytes of a 3 GiB program";
  const uint32_t lastCrc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(last.data()), last.size()));
  auto local = [](const std::string& name, uint32_t crc, uint64_t size) {
    std::string h;
    Put32(h, 0x04034b50);
    Put16(h, {20, 0, 0, 0, 0x5021});
    Put32(h, {crc, size, size});
    Put16(h, {name.size(), 0});
    return h + name;
  };
  auto central = [](const std::string& name, uint32_t crc, uint64_t size, uint64_t offset) {
    std::string h;
    Put32(h, 0x02014b50);
    Put16(h, {0x031E, 20, 0, 0, 0, 0x5021});
    Put32(h, {crc, size, size});
    Put16(h, {name.size(), 0, 0, 0, 0});
    Put32(h, {0, offset});
    return h + name;
  };
  const std::string stub = "stub image of a runner";
  const std::string first = local("big.bin", zeros, big);
  const uint64_t lastOffset = first.size() + big;
  std::string tail = local("last.txt", lastCrc, last.size()) + last;
  const uint64_t cdOffset = lastOffset + tail.size();
  std::string cd = central("big.bin", zeros, big, 0) + central("last.txt", lastCrc, last.size(), lastOffset);
  tail += cd;
  Put32(tail, 0x06054b50);
  Put16(tail, {0, 0, 2, 2});
  Put32(tail, {cd.size(), cdOffset});
  Put16(tail, 0);
  const uint64_t archiveSize = lastOffset + tail.size();
  auto footer = content::MakeFooter(uint32_t(archiveSize));
  tail.append(reinterpret_cast<const char*>(footer.data()), footer.size());
  const fs::path path = dir / "big.exe";
  {
    std::ofstream out(path, std::ios::binary);
    out << stub << first;
    out.seekp(std::streamoff(stub.size() + lastOffset));  // the hole reads as zeros
    out << tail;
    ASSERT_TRUE(out.good());
  }
  auto expectBothEnds = [&](amzip::Archive& archive) {
    auto lastStream = archive.OpenEntryStream(u"last.txt");
    ASSERT_TRUE(lastStream) << archive.LastError().code;
    EXPECT_EQ(ReadAll(*lastStream), last);
    auto bigStream = archive.OpenEntryStream(u"big.bin");
    ASSERT_TRUE(bigStream);
    EXPECT_EQ(bigStream->GetSize(), big);
    EXPECT_EQ(bigStream->Seek64(2, -5), int64_t(big - 5));
    EXPECT_EQ(ReadAll(*bigStream), std::string(5, '\0'));
  };
  PiggyBackArchive piggy;
  ASSERT_TRUE(piggy.OpenFile(path.u16string()));
  EXPECT_EQ(piggy.GetSize(), archiveSize);
  amzip::Archive mapped;
  ASSERT_EQ(piggy.OpenArchive(mapped), 0);
  expectBothEnds(mapped);
  auto file = std::make_unique<utils::MappedFile>();
  ASSERT_TRUE(file->Open(path.u16string()));
  amzip::SourcePtr inPlace(amzip::FileReader::Region(std::move(file), stub.size(), archiveSize, false));
  amzip::Archive read;
  ASSERT_EQ(read.OpenSource(inPlace, u"ZIP"), 0);
  EXPECT_EQ(read.Entries().size(), 2u);
  expectBothEnds(read);
}

}  // namespace
