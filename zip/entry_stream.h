// amzip::EntryStream: a utils::ReadStreamI over one entry of an archive held in memory.
//
// A stored entry reads straight from the archive's bytes (no copy; Seek is O(1)). A
// deflated entry is inflated as it is read, in bounded memory (zlib's 32 KiB window and
// a 16 KiB scratch buffer): a seek only moves the position; the next Read inflates and
// discards up to it, restarting from the entry's start when the position went back.
//
// The stream borrows the archive's bytes: they must outlive it (the mapped program file
// does). Get one from amzip::Archive::OpenEntryStream. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "utils/read_stream.h"

namespace amzip {

class EntryStream : public utils::ReadStreamI {
 public:
  // data: the entry's compressedSize bytes; size: its uncompressed size; method 0
  // (stored) or 8 (deflated). A stored entry's size is compressedSize.
  EntryStream(const uint8_t* data, uint64_t compressedSize, uint64_t size, uint16_t method,
              std::u16string name);
  ~EntryStream() override;
  EntryStream(const EntryStream&) = delete;
  EntryStream& operator=(const EntryStream&) = delete;

  bool IsOpen() override;
  uint64_t GetSize() override;
  // Bytes read; fewer than asked only at the end or when the deflated data is corrupt.
  uint32_t Read(void* buffer, uint32_t count) override;
  // False when corrupt deflated data stopped the read before any byte was delivered.
  bool Read(void* buffer, uint32_t count, uint32_t& got) override;
  bool ReadByte(uint8_t& out) override;
  // The new position (low 32 bits). Positions may lie past the end; reads there give 0.
  uint32_t Seek(int origin, int32_t offset) override;
  // The new position, or -1 (position unchanged) for a target before the start.
  int64_t Seek64(int origin, int64_t offset) override;
  void Close() override;
  bool CheckCacheFlags(uint32_t flags) override;
  const std::u16string& GetName() override;
  // Stored entries: the archive's own bytes from the position on. Deflated: false.
  bool PeekMemory(const uint8_t*& data, uint64_t& size) override;

  uint64_t Tell() const { return position_; }
  // True after the deflated data was found corrupt or truncated.
  bool Failed() const { return failed_; }

 private:
  struct Inflater;

  bool Restart();
  // Inflates into out (null: discard) up to count bytes; returns bytes produced.
  uint32_t Inflate(uint8_t* out, uint32_t count);

  const uint8_t* data_;
  uint64_t compressedSize_;
  uint64_t size_;
  uint16_t method_;
  std::u16string name_;
  uint64_t position_ = 0;
  bool open_ = true;
  bool failed_ = false;
  std::unique_ptr<Inflater> inflater_;
};

}  // namespace amzip
