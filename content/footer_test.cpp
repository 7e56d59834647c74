#include "content/footer.h"

#include <gtest/gtest.h>

#include "testing/program_builder.h"

namespace content {
namespace {

using testing::AppendArchive;
using testing::Bytes;
using testing::MakePe;
using testing::MakeStoredZip;

std::optional<ArchiveLocation> Locate(const Bytes& file) {
  return LocateArchiveInBytes(file.data(), file.size());
}

TEST(FooterTest, MakeAndParseRoundTrip) {
  for (uint32_t length : {1u, 0x1234u, 0x80000000u, 0xFFFFFFFFu}) {
    auto footer = MakeFooter(length);
    EXPECT_EQ(0, std::memcmp(footer.data(), "KVLEXEFTR", 9));
    EXPECT_EQ(0, footer[9] | footer[10] | footer[11]);
    EXPECT_EQ(uint8_t(length), footer[12]);
    EXPECT_EQ(uint8_t(length >> 24), footer[15]);
    EXPECT_EQ(length, ParseFooter(footer.data()).value_or(0));
  }
}

TEST(FooterTest, ParseRejectsEachWrongMagicByteAndZeroLength) {
  for (int i = 0; i < 9; ++i) {
    auto footer = MakeFooter(10);
    footer[i] ^= 0x20;  // e.g. lower case
    EXPECT_FALSE(ParseFooter(footer.data())) << "byte " << i;
  }
  EXPECT_FALSE(ParseFooter(MakeFooter(0).data()));
}

TEST(FooterTest, ReservedBytesAreNotExamined) {
  auto footer = MakeFooter(77);
  footer[9] = 0xFF;
  footer[10] = 1;
  footer[11] = 'x';
  EXPECT_EQ(77u, ParseFooter(footer.data()).value_or(0));
}

TEST(LocateArchiveTest, BoundsOfTheArchiveLength) {
  Bytes image(100, 'i');
  Bytes archive(50, 'a');
  struct Case {
    const char* what;
    size_t imageSize;
    uint32_t length;  // written into the footer
    bool found;
    uint64_t start;
  } cases[] = {
      {"archive after an image", 100, 50, true, 100},
      {"shorter length: archive starts later", 100, 20, true, 130},
      {"archive starts at offset 0", 0, 50, true, 0},
      {"length reaches one byte before the file", 100, 151, false, 0},
      {"length zero", 100, 0, false, 0},
      {"length far too large", 100, 0xFFFFFFFF, false, 0},
  };
  for (const auto& c : cases) {
    Bytes file(c.imageSize, 'i');
    file.insert(file.end(), archive.begin(), archive.end());
    auto footer = MakeFooter(c.length);
    file.insert(file.end(), footer.begin(), footer.end());
    auto location = Locate(file);
    ASSERT_EQ(c.found, location.has_value()) << c.what;
    if (!c.found) continue;
    EXPECT_EQ(c.start, location->start) << c.what;
    EXPECT_EQ(c.length, location->size) << c.what;
    EXPECT_EQ(file.size(), location->footerEnd) << c.what;
  }
}

TEST(LocateArchiveTest, NoFooterOrTooShort) {
  Bytes file = AppendArchive(Bytes(64, 'x'), Bytes(10, 'z'));
  Bytes trailing = file;
  trailing.push_back(0);  // one byte after the footer hides it
  EXPECT_FALSE(Locate(trailing));
  for (size_t n = 0; n < kFooterSize; ++n) EXPECT_FALSE(Locate(Bytes(n, 0))) << n;
  // Exactly a footer with nothing before it: length 1 does not fit.
  auto footer = MakeFooter(1);
  EXPECT_FALSE(Locate(Bytes(footer.begin(), footer.end())));
}

TEST(LocateArchiveTest, FilesOfFourGiBOrMoreAreRefused) {
  // A virtual file: zeros with a valid footer at the end, whatever its size.
  auto virtualFile = [](uint64_t size) {
    return [size](uint64_t offset, void* buffer, size_t len) {
      if (offset + len > size) return false;
      auto* out = static_cast<uint8_t*>(buffer);
      auto footer = MakeFooter(1000);
      for (size_t i = 0; i < len; ++i) {
        uint64_t at = offset + i;
        out[i] = at >= size - kFooterSize ? footer[at - (size - kFooterSize)] : 0;
      }
      return true;
    };
  };
  const uint64_t fourGiB = 1ull << 32;
  EXPECT_TRUE(LocateArchive(fourGiB - 1, virtualFile(fourGiB - 1)));
  EXPECT_FALSE(LocateArchive(fourGiB, virtualFile(fourGiB)));
  EXPECT_FALSE(LocateArchive(fourGiB + 20, virtualFile(fourGiB + 20)));
  auto failingRead = [](uint64_t, void*, size_t) { return false; };
  EXPECT_FALSE(LocateArchive(1000, failingRead));
}

TEST(PlanViewTest, AlignsDownToTheGranularity) {
  struct Case {
    uint64_t start, granularity, aligned, offset;
  } cases[] = {
      {655872, 65536, 655360, 512}, {0, 65536, 0, 0},         {65536, 65536, 65536, 0},
      {65535, 65536, 0, 65535},     {12345, 4096, 12288, 57}, {7, 1, 7, 0},
  };
  for (const auto& c : cases) {
    auto plan = PlanView(c.start, c.granularity);
    EXPECT_EQ(c.aligned, plan.alignedStart) << c.start;
    EXPECT_EQ(c.offset, plan.dataOffset) << c.start;
  }
}

// A packed PE with a certificate table of tableSize bytes after padding zero bytes.
Bytes SignPe(Bytes file, size_t padding, size_t tableSize, bool pe32plus) {
  file.insert(file.end(), padding, 0);
  uint32_t table = uint32_t(file.size());
  file.insert(file.end(), tableSize, 0x30);
  size_t entry = testing::SecurityEntryOffset(file);
  testing::Put32(file, entry, table);
  testing::Put32(file, entry + 4, uint32_t(tableSize));
  (void)pe32plus;
  return file;
}

TEST(SignedPeTest, FooterBeforeTheCertificateTable) {
  Bytes archive = MakeStoredZip({{"index.html", "<p>hi</p>"}});
  for (bool plus : {false, true}) {
    Bytes packed = AppendArchive(MakePe(plus), archive);
    for (size_t padding = 0; padding <= 7; ++padding) {
      Bytes signedFile = SignPe(packed, padding, 1500, plus);
      auto location = Locate(signedFile);
      ASSERT_TRUE(location) << "pe32+ " << plus << " padding " << padding;
      EXPECT_EQ(MakePe(plus).size(), location->start);
      EXPECT_EQ(archive.size(), location->size);
      EXPECT_EQ(packed.size(), location->footerEnd);
      EXPECT_EQ(packed.size() + padding,
                FindCertificateTable(signedFile.size(), [&](uint64_t o, void* b, size_t n) {
                  if (o + n > signedFile.size()) return false;
                  std::memcpy(b, signedFile.data() + o, n);
                  return true;
                }).value_or(0));
    }
  }
}

TEST(SignedPeTest, RefusesWhatIsNotAFooterBeforeATableThatEndsTheFile) {
  Bytes archive = MakeStoredZip({{"a.txt", "a"}});
  Bytes packed = AppendArchive(MakePe(false), archive);
  size_t entry = testing::SecurityEntryOffset(packed);

  // More padding than an 8-byte alignment needs.
  EXPECT_FALSE(Locate(SignPe(packed, 8, 100, false)));
  // Padding that is not zero.
  Bytes dirty = SignPe(packed, 3, 100, false);
  dirty[packed.size() + 1] = 1;
  EXPECT_FALSE(Locate(dirty));
  // The table does not end the file.
  Bytes longer = SignPe(packed, 0, 100, false);
  longer.push_back(0);
  EXPECT_FALSE(Locate(longer));
  // Table size in the directory one byte short.
  Bytes shortEntry = SignPe(packed, 0, 100, false);
  testing::Put32(shortEntry, entry + 4, 99);
  EXPECT_FALSE(Locate(shortEntry));
  // Only four data directories: there is no security entry.
  Bytes fewDirs = SignPe(packed, 0, 100, false);
  testing::Put32(fewDirs, 0x80 + 24 + 92, 4);
  EXPECT_FALSE(Locate(fewDirs));
  // Not a PE: MZ missing, PE signature missing, unknown optional-header magic.
  for (size_t at : {size_t(0), size_t(0x80), size_t(0x80 + 24)}) {
    Bytes broken = SignPe(packed, 0, 100, false);
    broken[at] ^= 0xFF;
    EXPECT_FALSE(Locate(broken)) << at;
  }
  // e_lfanew pointing past the end of the file.
  Bytes wild = SignPe(packed, 0, 100, false);
  testing::Put32(wild, 0x3C, 0xFFFFFF00);
  EXPECT_FALSE(Locate(wild));
  // A signed PE without any archive.
  EXPECT_FALSE(Locate(SignPe(MakePe(false), 0, 100, false)));
}

TEST(SignedPeTest, FooterAtTheEndWinsOverTheSecurityDirectory) {
  // Signed first, packed afterwards: the plain footer at the end is the one to use.
  Bytes signedPe = SignPe(MakePe(true), 0, 64, true);
  Bytes archive = MakeStoredZip({{"x", "y"}});
  Bytes packed = AppendArchive(signedPe, archive);
  auto location = Locate(packed);
  ASSERT_TRUE(location);
  EXPECT_EQ(signedPe.size(), location->start);
  EXPECT_EQ(packed.size(), location->footerEnd);
}

}  // namespace
}  // namespace content
