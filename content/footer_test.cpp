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

TEST(FooterTest, MakeAndParse) {
  auto footer = MakeFooter(0x80000001u);
  EXPECT_EQ(0, std::memcmp(footer.data(), "KVLEXEFTR\0\0\0\x01\0\0\x80", 16));
  EXPECT_EQ(0x80000001u, ParseFooter(footer.data()).value_or(0));
  EXPECT_FALSE(ParseFooter(MakeFooter(0).data()));
  footer[8] ^= 0x20;  // lower case
  EXPECT_FALSE(ParseFooter(footer.data()));
  footer[8] ^= 0x20;
  footer[9] = 0xFF;  // the reserved bytes are not examined
  EXPECT_EQ(0x80000001u, ParseFooter(footer.data()).value_or(0));
}

TEST(LocateArchiveTest, BoundsOfTheArchiveLength) {
  const struct {
    size_t imageSize;
    uint32_t length;  // written into the footer
    bool found;
    uint64_t start;
  } cases[] = {
      {100, 50, true, 100},  // archive after an image
      {0, 50, true, 0},      // archive starts at offset 0
      {100, 151, false, 0},  // length reaches one byte before the file
      {100, 0, false, 0},   {100, 0xFFFFFFFF, false, 0},
  };
  for (const auto& c : cases) {
    Bytes file(c.imageSize + 50, 'a');
    auto footer = MakeFooter(c.length);
    file.insert(file.end(), footer.begin(), footer.end());
    auto location = Locate(file);
    ASSERT_EQ(c.found, location.has_value()) << c.length;
    if (!c.found) continue;
    EXPECT_EQ(c.start, location->start) << c.length;
    EXPECT_EQ(c.length, location->size) << c.length;
    EXPECT_EQ(file.size(), location->footerEnd) << c.length;
  }
  Bytes trailing = AppendArchive(Bytes(64, 'x'), Bytes(10, 'z'));
  trailing.push_back(0);  // one byte after the footer hides it
  EXPECT_FALSE(Locate(trailing));
  for (size_t n = 0; n < kFooterSize; ++n) EXPECT_FALSE(Locate(Bytes(n, 0))) << n;
}

TEST(LocateArchiveTest, FilesOfFourGiBOrMoreAreRefused) {
  // A virtual file: zeros with a valid footer at the end, whatever its size.
  auto virtualFile = [](uint64_t size) {
    return [size](uint64_t offset, void* buffer, size_t len) {
      auto footer = MakeFooter(1000);
      for (size_t i = 0; i < len; ++i) {
        uint64_t back = size - (offset + i);  // 1 for the last byte
        static_cast<uint8_t*>(buffer)[i] = back - 1 < kFooterSize ? footer[kFooterSize - back] : 0;
      }
      return offset + len <= size;
    };
  };
  const uint64_t fourGiB = 1ull << 32;
  EXPECT_TRUE(LocateArchive(fourGiB - 1, virtualFile(fourGiB - 1)));
  EXPECT_FALSE(LocateArchive(fourGiB, virtualFile(fourGiB)));
  EXPECT_FALSE(LocateArchive(1000, [](uint64_t, void*, size_t) { return false; }));
}

// A packed PE with a certificate table of tableSize bytes after padding zero bytes.
Bytes SignPe(Bytes file, size_t padding, size_t tableSize = 100) {
  file.insert(file.end(), padding, 0);
  uint32_t table = uint32_t(file.size());
  file.insert(file.end(), tableSize, 0x30);
  size_t entry = testing::SecurityEntryOffset(file);
  testing::Put32(file, entry, table);
  testing::Put32(file, entry + 4, uint32_t(tableSize));
  return file;
}

TEST(SignedPeTest, FooterBeforeTheCertificateTable) {
  Bytes archive = MakeStoredZip({{"index.html", "<p>hi</p>"}});
  for (bool plus : {false, true}) {
    Bytes packed = AppendArchive(MakePe(plus), archive);
    for (size_t padding = 0; padding <= 7; ++padding) {
      Bytes signedFile = SignPe(packed, padding, 1500);
      auto location = Locate(signedFile);
      ASSERT_TRUE(location) << "pe32+ " << plus << " padding " << padding;
      EXPECT_EQ(MakePe(plus).size(), location->start);
      EXPECT_EQ(archive.size(), location->size);
      EXPECT_EQ(packed.size(), location->footerEnd);
    }
  }
  // Signed first, packed afterwards: the plain footer at the end is the one to use.
  Bytes signedPe = SignPe(MakePe(true), 0, 64);
  auto location = Locate(AppendArchive(signedPe, archive));
  ASSERT_TRUE(location);
  EXPECT_EQ(signedPe.size(), location->start);
}

TEST(SignedPeTest, RefusesWhatIsNotAFooterBeforeATableThatEndsTheFile) {
  Bytes packed = AppendArchive(MakePe(false), MakeStoredZip({{"a.txt", "a"}}));
  size_t entry = testing::SecurityEntryOffset(packed);
  std::vector<std::pair<const char*, Bytes>> cases = {
      {"padding past 8-byte alignment", SignPe(packed, 8)},
      {"a signed PE without any archive", SignPe(MakePe(false), 0)},
  };
  auto add = [&](const char* what, size_t padding, auto change) {
    Bytes file = SignPe(packed, padding);
    change(file);
    cases.emplace_back(what, file);
  };
  add("padding not zero", 3, [&](Bytes& b) { b[packed.size() + 1] = 1; });
  add("table does not end the file", 0, [](Bytes& b) { b.push_back(0); });
  add("table size one short", 0, [&](Bytes& b) { testing::Put32(b, entry + 4, 99); });
  add("four data directories", 0, [](Bytes& b) { testing::Put32(b, 0x80 + 24 + 92, 4); });
  add("no MZ", 0, [](Bytes& b) { b[0] ^= 0xFF; });
  add("no PE signature", 0, [](Bytes& b) { b[0x80] ^= 0xFF; });
  add("unknown optional header", 0, [](Bytes& b) { b[0x80 + 24] ^= 0xFF; });
  add("e_lfanew past the end", 0, [](Bytes& b) { testing::Put32(b, 0x3C, 0xFFFFFF00); });
  for (const auto& [what, file] : cases) EXPECT_FALSE(Locate(file)) << what;
}

}  // namespace
}  // namespace content
