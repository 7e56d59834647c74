#include "zip/entry_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "testing/zip_builder.h"
#include "utils/encoding.h"
#include "zip/archive.h"

namespace amzip {
namespace {

using testing::ReadAll;

// Written in place: the same file, cut and written over.
void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
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

// What OpenEntryStream refuses before any byte is served, made by editing the bytes of
// a sound archive; Extract refuses the same way, since it drains the same stream.
TEST(EntryOpenTest, LocalHeaderIsCheckedBeforeAnyByte) {
  const std::string text = "local header checks";
  const uint32_t k = 0xFFFFFFFF;
  const testing::BuiltZip z = testing::BuildZip(
      {{.name = "e.txt", .data = text},
       {.name = "aes.bin", .data = text, .method = 99},
       {.name = "z64.txt", .data = text, .localExtra = testing::Zip64Block({19, 19})},
       {.name = "late.txt", .data = text, .compressedSize = 1 << 20, .descriptor = true},
       {.name = "odd.txt", .data = text, .uncompressedSize = 5},
       {.name = "nothing", .data = "", .uncompressedSize = 0}});
  const uint64_t e = z.localOffsets[0], z64 = z.localOffsets[2];
  auto open = [&](const std::string& bytes, const std::u16string& name) -> std::string {
    Archive archive;
    archive.OpenMemory(bytes.data(), bytes.size(), u"ZIP");
    auto stream = archive.OpenEntryStream(name);
    if (!stream) return "<code " + std::to_string(archive.LastError().code) + ">";
    MemCreator creator;
    archive.Extract(creator, name, name);
    EXPECT_EQ(archive.LastError().code, 0);
    std::string out(stream->GetSize(), '\0');
    stream->Read(out.data(), static_cast<uint32_t>(out.size()));
    return out;
  };
  auto patched = [&](uint64_t at, uint64_t value, int width) {
    std::string bytes = z.bytes;
    testing::Patch(bytes, at, value, width);
    return bytes;
  };
  auto code = [](int32_t c) { return "<code " + std::to_string(c) + ">"; };
  EXPECT_EQ(open(z.bytes, u"e.txt"), text);
  EXPECT_EQ(open(z.bytes, u"aes.bin"), code(AZERROR_ENCRYPTED));
  EXPECT_EQ(open(patched(e + 6, 1, 2), u"e.txt"), code(AZERROR_ENCRYPTED)) << "local flag only";
  EXPECT_EQ(open(patched(e + 8, 8, 2), u"e.txt"), code(AZERROR_HEADER_MISMATCH)) << "method";
  EXPECT_EQ(open(patched(e + 30, 'E', 1), u"e.txt"), code(AZERROR_HEADER_MISMATCH)) << "name";
  EXPECT_EQ(open(patched(e + 14, 7, 4), u"e.txt"), code(AZERROR_HEADER_MISMATCH)) << "CRC";
  // The central compressed size larger than the local one.
  EXPECT_EQ(open(patched(e + 18, text.size() - 1, 4), u"e.txt"), code(AZERROR_HEADER_MISMATCH));
  EXPECT_EQ(open(patched(e, 0x04034b51, 4), u"e.txt"), code(AZERROR_BAD_SIGNATURE));
  // A local header offset beyond the archive; data that would run past its end.
  EXPECT_EQ(open(patched(z.centralOffset + 42, z.bytes.size() + 5, 4), u"e.txt"),
            code(ERROR_READ_FILE));
  EXPECT_EQ(open(z.bytes, u"late.txt"), code(ERROR_READ_FILE));
  EXPECT_EQ(open(z.bytes, u"odd.txt"), code(AZERROR_HEADER_MISMATCH)) << "stored, sizes differ";
  EXPECT_EQ(open(patched(z.localOffsets[5] + 14, 1, 4), u"nothing"), code(AZERROR_HEADER_MISMATCH));
  // ZIP64 sizes in the local header only (the central one has plain sizes): served.
  std::string local64 = patched(z64 + 18, k, 4);
  testing::Patch(local64, z64 + 22, k, 4);
  EXPECT_EQ(open(local64, u"z64.txt"), text);
  testing::Patch(local64, z64 + 30 + 7 + 4, 18, 8);
  EXPECT_EQ(open(local64, u"z64.txt"), code(AZERROR_HEADER_MISMATCH));
}

// An archive file read in place (as a 32-bit process reads large ones) and mapped give
// the same bytes, stored and deflated, and the file outlives the archive object.
TEST(EntryOpenTest, FileReadInPlaceOrMapped) {
  const std::string text = testing::RandomBytes(300000, 3) + std::string(200000, 'w');
  const testing::BuiltZip z = testing::BuildZip({{.name = "s", .data = text},
                                                 {.name = "d", .data = text, .method = 8}},
                                                {.prefix = "stub"});
  const std::string path = ::testing::TempDir() + "/in-place.zip";
  WriteFile(path, z.bytes);
  for (bool map : {false, true}) {
    utils::SharedPtr<utils::ReadStreamI> s, d;
    {
      Archive archive;
      SourcePtr source(FileReader::Open(utils::Utf8ToWide(path), map));
      ASSERT_TRUE(source);
      EXPECT_EQ(source->Data() != nullptr, map);
      ASSERT_EQ(archive.OpenSource(source, u"ZIP"), 0);
      s = archive.OpenEntryStream(u"s");
      d = archive.OpenEntryStream(u"d");
    }
    ASSERT_TRUE(s && d);
    EXPECT_EQ(ReadAll(*s), text);
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    EXPECT_EQ(s->PeekMemory(data, size), map);
    d->Seek64(0, 400000);
    EXPECT_EQ(ReadAll(*d), text.substr(400000));
  }
  std::remove(path.c_str());
  EXPECT_FALSE(FileReader::Open(utils::Utf8ToWide(path), false));
}

int32_t RefusedWith(Archive& archive, const std::u16string& name) {
  return archive.OpenEntryStream(name) ? 0 : archive.LastError().code;
}

// An archive named on the command line is read in place, so an author who cuts it, writes
// another archive over it or renames one over it while it is served cannot kill the
// process: what changed is refused (AZERROR_CHANGED), before a stream opens or by the
// stream's next read, and what still holds goes on being served.
TEST(EntryOpenTest, ChangedFileRefusesWhatChanged) {
  const std::string text = testing::RandomBytes(200000, 5) + std::string(300000, 'x');
  auto make = [&](const std::string& tail) {
    return testing::BuildZip({{.name = "first.txt", .data = "first"},
                              {.name = "big.bin", .data = text},
                              {.name = "d.txt", .data = text, .method = 8},
                              {.name = "tail.txt", .data = tail}});
  };
  const testing::BuiltZip z = make("tail");
  const std::string path = ::testing::TempDir() + "/changed.zip";
  WriteFile(path, z.bytes);
  Archive archive;
  ASSERT_EQ(archive.OpenFile(utils::Utf8ToWide(path)), 0);
#ifdef _WIN32
  // Windows shares the open archive for reading only: it cannot be cut or written over.
  FILE* writer = std::fopen(path.c_str(), "r+b");
  EXPECT_EQ(writer, nullptr);
  if (writer) std::fclose(writer);
  GTEST_SKIP() << "the open archive cannot be written here";
#endif
  auto big = archive.OpenEntryStream(u"big.bin");
  auto d = archive.OpenEntryStream(u"d.txt");
  ASSERT_TRUE(big && d);
  std::string part(65536, '\0');
  ASSERT_EQ(big->Read(part.data(), 1000), 1000u);
  ASSERT_EQ(d->Read(part.data(), 1000), 1000u);
  // Cut inside big.bin's data.
  WriteFile(path, z.bytes.substr(0, z.localOffsets[1] + 5000));
  EXPECT_EQ(ReadAll(*archive.OpenEntryStream(u"first.txt")), "first");
  for (const char16_t* name : {u"big.bin", u"d.txt", u"tail.txt"}) {
    EXPECT_EQ(RefusedWith(archive, name), AZERROR_CHANGED) << utils::WideToUtf8(name);
  }
  for (auto* stream : {&big, &d}) {
    uint32_t got = 0;
    EXPECT_FALSE((*stream)->Read(part.data(), 65536, got));
    EXPECT_EQ(static_cast<EntryStream&>(**stream).FailureCode(), AZERROR_CHANGED);
  }
  // Another archive written over it: the entries whose headers still record the same
  // data are served whole (and checked by their CRC-32), the changed one is refused.
  const testing::BuiltZip other = make("a longer tail");
  WriteFile(path, other.bytes);
  EXPECT_EQ(ReadAll(*archive.OpenEntryStream(u"big.bin")), text);
  EXPECT_EQ(ReadAll(*archive.OpenEntryStream(u"d.txt")), text);
  EXPECT_EQ(RefusedWith(archive, u"tail.txt"), AZERROR_CHANGED);
  // Written again while a stream reads it (the same bytes, one more at the end): the
  // stream cannot tell the bytes are still right, and stops.
  auto during = archive.OpenEntryStream(u"big.bin");
  ASSERT_TRUE(during);
  ASSERT_EQ(during->Read(part.data(), 1000), 1000u);
  WriteFile(path, other.bytes + "!");
  uint32_t got = 0;
  EXPECT_FALSE(during->Read(part.data(), 1000, got));
  EXPECT_EQ(static_cast<EntryStream&>(*during).FailureCode(), AZERROR_CHANGED);
  // A new file renamed over the name: the open file is still the one opened.
  Archive kept;
  ASSERT_EQ(kept.OpenFile(utils::Utf8ToWide(path)), 0);
  WriteFile(path + ".new", z.bytes.substr(0, 100));
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
  EXPECT_EQ(ReadAll(*kept.OpenEntryStream(u"tail.txt")), "a longer tail");
  EXPECT_EQ(ReadAll(*kept.OpenEntryStream(u"d.txt")), text);
  std::remove(path.c_str());
}

EntryLocation Over(const std::string& data, uint64_t size, uint16_t method, uint32_t crc) {
  EntryLocation where;
  where.source = SourcePtr(new MemReader(data.data(), data.size()));
  where.compressedSize = data.size();
  where.size = size;
  where.method = method;
  where.crc32 = crc;
  return where;
}

uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}

// A seek far into a deflated entry is paid in budgets: Prepare inflates about as much as
// it is given and no more, and the bytes read afterwards are the right ones.
TEST(EntryStreamTest, PrepareSpreadsASeekOverBudgets) {
  std::string text;
  for (int i = 0; text.size() < (3u << 20); ++i) text += "line " + std::to_string(i * 7919) + "\n";
  const std::string deflated = testing::RawDeflate(text);
  EntryStream stream(Over(deflated, text.size(), 8, Crc(text)), {});
  const uint64_t target = 5u << 19;
  ASSERT_EQ(stream.Seek64(0, target), int64_t(target));
  uint64_t spent = 0;
  int turns = 0;
  for (bool ready = false; !ready; ++turns) {
    ASSERT_LT(turns, 1000) << "the seek never finished";
    uint64_t budget = 65536;
    ready = stream.Prepare(budget);
    if (!ready) EXPECT_EQ(budget, 0u) << "unfinished work leaves no budget unused";
    spent += 65536 - budget;
  }
  EXPECT_EQ(spent, target);
  EXPECT_GE(turns, int(target / 65536));
  EXPECT_EQ(stream.Inflated(), target);
  EXPECT_EQ(ReadAll(stream), text.substr(target));
}

TEST(EntryStreamCorruptTest, CorruptOrShortDataFailsTheRead) {
  std::string text = testing::RandomBytes(200000, 7), deflated = testing::RawDeflate(text);
  std::string half = deflated.substr(0, deflated.size() / 2), small = testing::RawDeflate("short");
  EntryStream cut(Over(half, text.size(), 8, Crc(text)), {});
  std::string got = ReadAll(cut, 8192);
  EXPECT_LT(got.size(), text.size());
  EXPECT_EQ(text.compare(0, got.size(), got), 0);
  EXPECT_TRUE(cut.Failed());
  EXPECT_EQ(cut.FailureCode(), ERROR_FLATE);
  EXPECT_EQ(cut.Seek64(0, 0), -1) << "a failed stream stays failed";
  // A deflate stream shorter than the recorded size is as broken as a cut one.
  EntryStream shorter(Over(small, 100, 8, Crc("short")), {});
  EXPECT_EQ(ReadAll(shorter), "");
  EXPECT_TRUE(shorter.Failed());
}

// A wrong CRC-32 fails the read that would hand out the last byte, for stored and
// deflated data, read in one piece or many, and PeekMemory never shows the last byte.
TEST(EntryStreamCorruptTest, WrongCrcWithholdsTheLastByte) {
  const std::string text = testing::RandomBytes(3 << 20, 5), deflated = testing::RawDeflate(text);
  for (uint16_t method : {0, 8}) {
    const std::string& data = method ? deflated : text;
    for (uint32_t chunk : {4096u, 1u << 22}) {
      EntryStream good(Over(data, text.size(), method, Crc(text)), {});
      EXPECT_EQ(ReadAll(good, chunk), text);
      EntryStream bad(Over(data, text.size(), method, Crc(text) ^ 1), {});
      std::string got = ReadAll(bad, chunk);
      EXPECT_LT(got.size(), text.size()) << method << " " << chunk;
      EXPECT_EQ(bad.FailureCode(), AZERROR_CRC);
    }
  }
  EntryStream bad(Over(text, text.size(), 0, Crc(text) ^ 1), {});
  uint64_t shown = 0;
  const uint8_t* data = nullptr;
  for (uint64_t size = 1; bad.PeekMemory(data, size) && size > 0; shown += size) {
    bad.Seek64(1, static_cast<int64_t>(size));
  }
  EXPECT_LT(shown, text.size());
  EXPECT_TRUE(bad.Failed());
}

// What a stored entry vouches for (the bytes a server sends straight from the file) is
// checked ahead of the send, whether the archive is mapped or read in place: the whole
// entry when it is intact, never its last byte when one byte is wrong. The file span
// names where the entry's bytes lie in the archive file.
TEST(EntryStreamCorruptTest, VouchedBytesWithholdTheLastByte) {
  const std::string text = testing::RandomBytes(3 << 20, 11);
  testing::BuiltZip z = testing::BuildZip(
      {{.name = "good", .data = text}, {.name = "bad", .data = text}}, {.prefix = "stub"});
  const size_t first = z.bytes.find(text.substr(0, 64));
  const size_t second = z.bytes.find(text.substr(0, 64), first + 1);
  ASSERT_NE(second, std::string::npos);
  z.bytes[second + text.size() / 2] ^= 0x20;
  const std::string path = ::testing::TempDir() + "/vouched.zip";
  WriteFile(path, z.bytes);
  for (bool map : {false, true}) {
    Archive archive;
    ASSERT_EQ(archive.OpenSource(SourcePtr(FileReader::Open(utils::Utf8ToWide(path), map)),
                                 u"ZIP"), 0);
    for (const char16_t* name : {u"good", u"bad"}) {
      auto stream = archive.OpenEntryStream(name);
      auto* entry = dynamic_cast<EntryStream*>(stream.Get());
      ASSERT_TRUE(entry);
      uintptr_t file = 0;
      uint64_t offset = 0;
      ASSERT_TRUE(entry->FileSpan(file, offset));
      EXPECT_EQ(offset, name[0] == u'g' ? first : second);
      uint64_t vouched = 0;
      for (uint64_t size = 0; entry->Vouched(size) && size > 0; vouched += size) {
        EXPECT_LE(size, (1u << 20) * 5 / 4) << "checked no further than one step ahead";
        entry->Seek64(1, static_cast<int64_t>(size));
      }
      if (name[0] == u'g') {
        EXPECT_EQ(vouched, text.size()) << map;
        EXPECT_FALSE(entry->Failed());
      } else {
        EXPECT_LT(vouched, text.size()) << map;
        EXPECT_EQ(entry->FailureCode(), AZERROR_CRC) << map;
      }
    }
  }
  std::remove(path.c_str());
}

// Restart points: a seek far into a deflated entry that was read once inflates at most
// one interval, and what it gives is right at every point.
TEST(EntryStreamTest, SeeksResumeFromRestartPoints) {
  const std::string text = testing::RandomBytes(6 << 20, 9) + std::string(4 << 20, 'r');
  const std::string deflated = testing::RawDeflate(text);
  utils::SharedPtr<RestartBudget> budget(new RestartBudget());
  utils::SharedPtr<RestartIndex> index(new RestartIndex(budget));
  EntryStream first(Over(deflated, text.size(), 8, Crc(text)), index);
  EXPECT_EQ(ReadAll(first), text);
  EXPECT_GE(index->Count(), 5u);
  EXPECT_LE(index->Count(), 10u);
  EXPECT_EQ(budget->Left(), RestartBudget::kDefaultCap - index->Count() * 32768);
  EntryStream later(Over(deflated, text.size(), 8, Crc(text)), index);
  for (uint64_t at : {9u << 20, 3u << 20, (5u << 20) + 12345, 1u, (10u << 20) - 3}) {
    ASSERT_EQ(later.Seek64(0, static_cast<int64_t>(at)), static_cast<int64_t>(at));
    char buffer[64] = {};
    uint32_t got = 0;
    ASSERT_TRUE(later.Read(buffer, sizeof(buffer), got)) << at;
    EXPECT_EQ(std::string(buffer, got), text.substr(at, 64)) << at;
    const RestartPoint* point = index->Before(at);
    // Random bytes make blocks of well under an interval; runs of one byte do not.
    if (at >= (2u << 20) && at < (6u << 20)) ASSERT_TRUE(point && at - point->out <= 2 * RestartIndex::kInterval);
  }
  // No budget left: no points are kept.
  utils::SharedPtr<RestartIndex> starved(new RestartIndex(
      utils::SharedPtr<RestartBudget>(new RestartBudget(1000))));
  EntryStream poor(Over(deflated, text.size(), 8, Crc(text)), starved);
  EXPECT_EQ(ReadAll(poor).size(), text.size());
  EXPECT_EQ(starved->Count(), 0u);
}

// Text that deflates to many short blocks and takes a while to inflate.
std::string Words(size_t n, unsigned seed) {
  static const char* const kWords[] = {"deflate ", "window ", "range ", "point ", "seek ",
                                       "entry ", "block ", "index ", "thread ", "archive "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < n) text += kWords[random() % 10];
  text.resize(n);
  return text;
}

std::string ReadSome(utils::ReadStreamI& stream, uint32_t count) {
  std::string buffer(count, '\0');
  buffer.resize(stream.Read(buffer.data(), count));
  return buffer;
}

bool WaitForIndexing(const Archive& archive) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!archive.IndexingFinished()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The indexer gives an entry nobody has read yet its restart points: the first seek far
// into it inflates at most about one interval. Small entries are left to their readers.
TEST(RestartIndexerTest, ColdEntriesGetTheirPointsAhead) {
  const std::string big = testing::RandomBytes(5 << 20, 3);
  const std::string small = testing::RandomBytes(Archive::kIndexAhead - 4096, 4);
  testing::BuiltZip z = testing::BuildZip(
      {{.name = "small", .data = small, .method = 8}, {.name = "big", .data = big, .method = 8}});
  Archive archive;
  ASSERT_EQ(archive.OpenMemory(z.bytes.data(), z.bytes.size(), u"ZIP"), 0);
  archive.StartIndexing();
  ASSERT_TRUE(WaitForIndexing(archive));
  for (auto [name, text] : {std::pair{u"big", &big}, std::pair{u"small", &small}}) {
    auto stream = archive.OpenEntryStream(name);
    ASSERT_TRUE(stream);
    auto& entry = static_cast<EntryStream&>(*stream);
    const uint64_t at = text->size() - 100;
    ASSERT_EQ(entry.Seek64(0, static_cast<int64_t>(at)), static_cast<int64_t>(at));
    EXPECT_EQ(ReadAll(entry, 100), text->substr(at));
    if (text == &big) {
      EXPECT_LE(entry.Inflated(), 2 * RestartIndex::kInterval);
    } else {
      EXPECT_EQ(entry.Inflated(), small.size());
    }
  }
}

// Streams read the entry the indexer is working through and get the right bytes; closing,
// reopening and destroying the archive meanwhile stop the thread cleanly (run under the
// sanitizers, a thread left running or a point read while it moves shows here).
TEST(RestartIndexerTest, ReadersCloseAndDestroyWhileIndexing) {
  const std::string text = Words(24 << 20, 5);
  testing::BuiltZip z = testing::BuildZip({{.name = "words", .data = text, .method = 8}});
  auto archive = std::make_unique<Archive>();
  ASSERT_EQ(archive->OpenMemory(z.bytes.data(), z.bytes.size(), u"ZIP"), 0);
  archive->StartIndexing();
  auto stream = archive->OpenEntryStream(u"words");
  ASSERT_TRUE(stream);
  for (uint64_t at : {20u << 20, 3u << 20, (12u << 20) + 7, (24u << 20) - 5}) {
    ASSERT_EQ(stream->Seek64(0, static_cast<int64_t>(at)), static_cast<int64_t>(at));
    EXPECT_EQ(ReadSome(*stream, 5), text.substr(at, 5)) << at;
  }
  archive->Close();
  EXPECT_TRUE(archive->IndexingFinished());
  ASSERT_EQ(archive->OpenMemory(z.bytes.data(), z.bytes.size(), u"ZIP"), 0);
  archive->StartIndexing();
  archive.reset();
  // The stream outlives its archive; it keeps its source and index.
  ASSERT_EQ(stream->Seek64(0, 1000), 1000);
  EXPECT_EQ(ReadSome(*stream, 5), text.substr(1000, 5));
}

}  // namespace
}  // namespace amzip
