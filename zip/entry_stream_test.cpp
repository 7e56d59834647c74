#include "zip/entry_stream.h"

#include <gtest/gtest.h>

#include "testing/zip_builder.h"
#include "zip/archive.h"

namespace amzip {
namespace {

std::string ReadAll(utils::ReadStreamI& stream, uint32_t chunk = 64) {
  std::string out, buffer(chunk, '\0');
  while (uint32_t got = stream.Read(buffer.data(), chunk)) out.append(buffer, 0, got);
  return out;
}

TEST(EntryStreamTest, ReadsSeeksAndPeeks) {
  const std::string text =
      testing::RandomBytes(100000, 7) + std::string(300000, 'z') + testing::RandomBytes(50000, 8);
  const testing::BuiltZip z =
      testing::BuildZip({{.name = "stored.bin", .data = text},
                         {.name = "deflated.bin", .data = text, .method = 8},
                         {.name = "odd", .data = "x", .method = 12}});
  const std::string& bytes = z.bytes;
  Archive archive;
  ASSERT_EQ(archive.OpenMemory(bytes.data(), bytes.size(), u"ZIP"), 0);
  for (const char16_t* name : {u"stored.bin", u"DEFLATED.BIN"}) {
    for (uint32_t chunk : {7u, 65536u, 1000000u}) {
      auto stream = archive.OpenEntryStream(name);
      ASSERT_TRUE(stream);
      EXPECT_EQ(stream->GetSize(), text.size());
      EXPECT_EQ(ReadAll(*stream, chunk), text) << chunk;
    }
    auto stream = archive.OpenEntryStream(name);
    for (uint64_t position : {399990, 5, 100000, 99999, 449999, 0, 250000, 250001}) {
      ASSERT_EQ(stream->Seek64(0, static_cast<int64_t>(position)), static_cast<int64_t>(position));
      char buffer[20] = {};
      uint32_t got = 0;
      EXPECT_TRUE(stream->Read(buffer, sizeof(buffer), got));
      EXPECT_EQ(std::string(buffer, got), text.substr(position, 20)) << position;
    }
    EXPECT_EQ(stream->Seek64(1, -30), 250001 + 20 - 30);
    EXPECT_EQ(stream->Seek64(0, -1), -1);  // before the start: refused
    EXPECT_EQ(stream->Seek64(2, 5), static_cast<int64_t>(text.size() + 5));
    uint8_t byte = 0;
    EXPECT_FALSE(stream->ReadByte(byte));  // past the end
    EXPECT_EQ(stream->Seek(2, -10), text.size() - 10);
    EXPECT_EQ(ReadAll(*stream), text.substr(text.size() - 10));
  }
  EXPECT_FALSE(archive.OpenEntryStream(u"missing"));
  EXPECT_FALSE(archive.OpenEntryStream(u"odd"));
  EXPECT_FALSE(Archive().OpenEntryStream(u"stored.bin"));
  // Stored entries show the archive's own bytes, not a copy; inflated bytes exist only as
  // they are read.
  auto stored = archive.OpenEntryStream(u"stored.bin");
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  stored->Seek64(0, 123456);
  ASSERT_TRUE(stored->PeekMemory(data, size));
  EXPECT_EQ(data + size, reinterpret_cast<const uint8_t*>(bytes.data()) + z.localOffsets[1]);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), text.substr(123456));
  EXPECT_FALSE(archive.OpenEntryStream(u"deflated.bin")->PeekMemory(data, size));
}

// The raw bytes of each entry, as a writer copying entries unchanged would take them, and
// none for entries whose bytes lie outside the archive; streams of entries by name or not.
TEST(EntryDataTest, PointsAtEachEntrysCompressedBytes) {
  std::string text = testing::RandomBytes(5000, 7) + std::string(5000, 'q');
  testing::BuiltZip z =
      testing::BuildZip({{.name = "s", .data = text, .localExtra = std::string(9, 'x')},
                         {.name = "d", .data = text, .method = 8},
                         {.name = "e", .data = ""},
                         {.name = "other-part", .data = text, .diskStart = 1},
                         {.name = "Page.html", .data = "first"},
                         {.name = "page.HTML", .data = "second", .method = 8}},
                        {.prefix = "stub bytes before the archive"});
  Archive archive;
  ASSERT_EQ(archive.OpenMemory(z.bytes.data(), z.bytes.size(), u"ZIP"), 0);
  ASSERT_EQ(archive.Entries().size(), 6u);
  const Entry &s = *archive.Entries()[0], &d = *archive.Entries()[1];
  const uint8_t* base = reinterpret_cast<const uint8_t*>(z.bytes.data());
  // The local header's own extra length counts, not the central one; the prefix shifts all.
  ASSERT_EQ(archive.EntryData(s), base + 29 + z.localOffsets[0] + 30 + 1 + 9);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(archive.EntryData(s)), s.compressedSize),
            text);
  ASSERT_TRUE(archive.EntryData(d));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(archive.EntryData(d)), d.compressedSize),
            testing::RawDeflate(text));
  EXPECT_EQ(archive.EntryData(*archive.Entries()[2]), base + 29 + z.localOffsets[2] + 31);
  EXPECT_FALSE(archive.EntryData(*archive.Entries()[3]));  // on another disk
  EXPECT_FALSE(archive.OpenEntryStream(*archive.Entries()[3]));
  // A header that starts within the archive but ends past it.
  Entry tail = s;
  tail.localHeaderOffset = z.bytes.size() - 29 - 10;
  EXPECT_FALSE(archive.EntryData(tail));
  EXPECT_FALSE(Archive().EntryData(tail));
  // Names with one key: by name the first one answers, by entry each one.
  EXPECT_EQ(ReadAll(*archive.OpenEntryStream(u"PAGE.html")), "first");
  EXPECT_EQ(ReadAll(*archive.OpenEntryStream(*archive.Entries()[5])), "second");
}

TEST(EntryStreamCorruptTest, CorruptDeflateDataEndsTheStream) {
  std::string text = testing::RandomBytes(200000, 7), deflated = testing::RawDeflate(text);
  std::string half = deflated.substr(0, deflated.size() / 2), small = testing::RawDeflate("short");
  auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
  EntryStream cut(bytes(half), half.size(), text.size(), 8, u"cut");
  std::string got = ReadAll(cut, 8192);
  EXPECT_LT(got.size(), text.size());
  EXPECT_EQ(text.compare(0, got.size(), got), 0);
  EXPECT_TRUE(cut.Failed());
  // A stream shorter than its declared size ends early without failing.
  EntryStream shorter(bytes(small), small.size(), 100, 8, u"s");
  EXPECT_EQ(ReadAll(shorter), "short");
  EXPECT_FALSE(shorter.Failed());
}

}  // namespace
}  // namespace amzip
