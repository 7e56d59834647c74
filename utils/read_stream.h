// utils::ReadStreamI: the input-stream interface the server reads response bodies from,
// and utils::MemoryStreamReader, the one stream over bytes held in memory.
//
// The contract every implementation keeps:
// - Origins are 0 (from the beginning), 1 (from the current position) and 2 (from the
//   end), always the first argument: Seek(origin, offset), Seek64(origin, offset).
// - Seek64 answers the new position, or -1 when it fails (an unknown origin, a target
//   before the start, a closed or broken stream); a failed seek leaves the position as
//   it was. Positions past the end are allowed; reads there give 0 bytes.
// - Seek answers the low 32 bits of the new position, or 0xFFFFFFFF when it fails.
// - Read(buffer, count, got): false only for a failure (I/O, corrupt data, a check such
//   as the CRC-32 that did not hold); the end of the data is true with got 0. A read
//   that fails hands out none of the bytes it could not vouch for.
// - Read(buffer, count) answers got and drops the failure; ReadByte is false at the end.
// Only GetSize, the three-argument Read and Seek64 must be written; the others have
// defaults stated below. One thread at a time; nothing here locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "utils/shared_ptr.h"

namespace utils {

class ReadStreamI {
 public:
  static constexpr int64_t kSeekFailed = -1;
  static constexpr uint32_t kSeekFailed32 = 0xFFFFFFFFu;

  virtual ~ReadStreamI() = default;
  // Default: open.
  virtual bool IsOpen() { return true; }
  virtual uint64_t GetSize() = 0;
  virtual bool Read(void* buffer, uint32_t count, uint32_t& got) = 0;
  virtual int64_t Seek64(int origin, int64_t offset) = 0;

  // Default: the three-argument Read, failure dropped.
  virtual uint32_t Read(void* buffer, uint32_t count);
  // Default: a one-byte Read.
  virtual bool ReadByte(uint8_t& out);
  // Default: Seek64 with the offset widened with its sign.
  virtual uint32_t Seek(int origin, int32_t offset);
  virtual bool IsBuffered() { return false; }
  // Default: nothing to release.
  virtual void Close() {}
  virtual void SetCacheFlags(uint32_t flags) {}
  // Default: the three read-cache bits are accepted, nothing else.
  virtual bool CheckCacheFlags(uint32_t flags) { return (flags & 7) == flags; }
  // Default: no name (an empty text).
  virtual const std::u16string& GetName();
  // When the stream's bytes sit in memory: bytes from the current position on (not
  // always to the end), valid until the stream is changed or destroyed; Seek64(1, n)
  // moves past what was used. Size 0 at the end or when the stream can vouch for no
  // more. False for streams that must produce their bytes (files, inflation); those are
  // read with Read.
  virtual bool PeekMemory(const uint8_t*& data, uint64_t& size) { return false; }
  // Work the stream must do before its next Read can hand out bytes (an inflating stream
  // inflates up to the position a seek moved it to): does about budget bytes of it at
  // most, takes what it did from budget, and answers true once the next Read needs no
  // more than its own bytes (also when it will fail). The server calls it before each
  // block and counts the work against the connection's turn, so one long seek takes
  // turns with the other connections instead of holding the thread. Default: no work.
  virtual bool Prepare(uint64_t& budget) { return true; }
};

using ByteVector = std::vector<uint8_t>;

// The position a seek over size bytes at position moves to, or -1 for an unknown origin
// or a target before the start (or beyond what int64_t holds).
int64_t SeekTarget(int origin, int64_t offset, uint64_t position, uint64_t size);

// Reads bytes held in memory: a shared byte vector, or its own copy of a string. Never
// owns a file and never fails a read.
class MemoryStreamReader : public ReadStreamI {
 public:
  MemoryStreamReader(SharedPtr<ByteVector> data, std::u16string name);
  MemoryStreamReader(const std::string& bytes, std::u16string name);

  uint64_t GetSize() override;
  using ReadStreamI::Read;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override;
  int64_t Seek64(int origin, int64_t offset) override;
  void Close() override;
  const std::u16string& GetName() override;
  bool PeekMemory(const uint8_t*& data, uint64_t& size) override;

 private:
  SharedPtr<ByteVector> data_;
  uint64_t position_ = 0;
  std::u16string name_;
};

}  // namespace utils
