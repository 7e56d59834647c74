// amzip::EntryStream: a utils::ReadStreamI over one entry's data, the one way the reader
// produces an entry's bytes (Extract drains one into a sink; the server sends one).
//
// Made by amzip::Archive::OpenEntryStream once the local header has been checked. It
// reads its archive's source at any offset and keeps it alive. A stored entry reads
// straight from the source (from the mapped bytes without a copy, see PeekMemory); a
// deflated entry is inflated as it is read, in bounded memory (zlib's state and window,
// one input block, one scratch block), starting a seek from the nearest point of its
// RestartIndex rather than from the entry's first byte.
//
// A seek never waits for anyone: it inflates from the best point the index holds at or
// before the target, and looks the point up again every block of the way. When the
// background indexer (restart_indexer.h) has passed the target, that costs at most about
// one interval; while the indexer is working through the same entry short of the target,
// the seek starts from the indexer's newest point and inflates the rest itself (in the
// worst case, the indexer just started, about what it cost without the indexer); when the
// indexer has not reached the entry, the stream inflates from its own best point, as it
// always did. Either way its own points go into the index for every later reader.
//
// CRC-32: while the bytes have been produced in order from the first, their CRC-32 is
// kept; the read (or PeekMemory) that would hand out the entry's last byte fails instead
// when the CRC-32 or the length is not the recorded one, so a reader never gets a complete
// entry with wrong bytes. A stream read from a seek onwards cannot be checked. After
// such a failure the stream stays failed. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "utils/read_stream.h"
#include "zip/restart_index.h"
#include "zip/source.h"

namespace amzip {

struct EntryLocation {
  SourcePtr source;
  uint64_t offset = 0;  // of the first data byte in source
  uint64_t compressedSize = 0;
  uint64_t size = 0;  // uncompressed
  uint16_t method = 0;  // 0 stored, 8 deflated
  uint32_t crc32 = 0;
  std::u16string name;
  // The source's stamp when the entry was checked: a read that finds another one fails
  // (AZERROR_CHANGED), since the bytes may no longer be the entry's.
  utils::FileStamp stamp;
};

class EntryStream : public utils::ReadStreamI {
 public:
  // A deflated size not known in advance: the stream ends where the deflate data ends
  // (and no CRC-32 is checked). For measuring entries whose headers give no sizes.
  static constexpr uint64_t kSizeUnknown = ~0ull;

  // index: where a deflated entry's restart points are kept (may be empty: none kept).
  EntryStream(EntryLocation data, utils::SharedPtr<RestartIndex> index);
  ~EntryStream() override;
  EntryStream(const EntryStream&) = delete;
  EntryStream& operator=(const EntryStream&) = delete;

  bool IsOpen() override { return open_; }
  uint64_t GetSize() override { return data_.size; }
  using ReadStreamI::Read;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override;
  int64_t Seek64(int origin, int64_t offset) override;
  void Close() override;
  const std::u16string& GetName() override { return data_.name; }
  // Stored entries of a source in memory: the bytes from the position up to where the
  // CRC-32 has been checked (the last ones only once it held). Otherwise false.
  bool PeekMemory(const uint8_t*& data, uint64_t& size) override;
  // Stored entries, for sending their bytes straight from a file: how many from the
  // position on have been checked, with the same hold-back as PeekMemory (the CRC-32 is
  // checked ahead, from memory or read from the source; the last bytes count only once
  // it held). 0 at the end or after a failure. False for deflated entries.
  bool Vouched(uint64_t& size);
  // Stored entries of a source that is a region of an open file: that file (source.h
  // FileAt) and the file offset of the entry's first byte. False otherwise.
  bool FileSpan(uintptr_t& file, uint64_t& offset) const;
  // Deflated: inflates (and discards) toward the position, budget bytes of output at most.
  bool Prepare(uint64_t& budget) override;

  uint64_t Tell() const { return position_; }
  // Deflated: whether the end of the deflate data was reached, and the compressed bytes
  // used up to where inflation stands.
  bool Ended() const;
  uint64_t CompressedUsed() const;
  // Bytes this stream has inflated so far, whether handed out or discarded by a seek.
  uint64_t Inflated() const { return inflated_; }
  // True after corrupt or truncated data, a read failure or a CRC-32 mismatch.
  bool Failed() const { return failed_; }
  // The error code of the failure (ERROR_FLATE, ERROR_READ_FILE, AZERROR_CRC,
  // AZERROR_CHANGED), else 0.
  int32_t FailureCode() const { return failure_; }

 private:
  struct Inflater;

  void Fail(int32_t code);
  // Reads size bytes at offset of the entry's data from the source (not in memory);
  // false, with the stream failed, when they cannot all be read or the source's file
  // changed since the entry was checked.
  bool ReadSource(uint64_t offset, void* buffer, uint32_t size);
  // Counts n bytes produced at offset at into the CRC-32; false when they complete the
  // entry and the CRC-32 does not hold.
  bool Account(const uint8_t* bytes, uint64_t at, uint64_t n);
  bool ReadStored(uint8_t* out, uint32_t want, uint32_t& got);
  bool ReadDeflated(uint8_t* out, uint32_t want, uint32_t& got);
  // Stored: checks the CRC-32 further ahead when the position has nearly caught up with
  // what was checked; the end of what may be handed out from the position.
  uint64_t CheckAhead();
  // Sets the inflater up at the nearest restart point at or before position_.
  bool Reposition();
  // Inflates up to count bytes into out (null: into the scratch block, discarded).
  uint32_t Inflate(uint8_t* out, uint32_t count);

  EntryLocation data_;
  utils::SharedPtr<RestartIndex> index_;
  const uint8_t* memory_ = nullptr;  // the entry's bytes when the source is in memory
  uint64_t position_ = 0;
  uint32_t crc_ = 0;       // CRC-32 of the bytes before checked_
  uint64_t checked_ = 0;   // bytes counted into crc_, all from the first on
  bool open_ = true;
  bool failed_ = false;
  int32_t failure_ = 0;
  uint64_t inflated_ = 0;
  std::unique_ptr<Inflater> inflater_;
  std::unique_ptr<uint8_t[]> checkBlock_;  // stored bytes read for the check (no memory)
};

}  // namespace amzip
