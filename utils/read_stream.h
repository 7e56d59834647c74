// utils::ReadStreamI: the input-stream interface the server reads response bodies from,
// and utils::MemoryStreamReader, a stream over a shared byte vector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "utils/shared_ptr.h"

namespace utils {

class ReadStreamI {
 public:
  virtual ~ReadStreamI() = default;
  virtual bool IsOpen() = 0;
  virtual uint64_t GetSize() = 0;
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  virtual bool Read(void* buffer, uint32_t count, uint32_t& got) = 0;
  virtual bool ReadByte(uint8_t& out) = 0;
  // origin 0: from the beginning, 1: from the current position, 2: from the end.
  virtual uint32_t Seek(int origin, int32_t offset) = 0;
  virtual int64_t Seek64(int origin, int64_t offset) = 0;
  virtual bool IsBuffered() { return false; }
  virtual void Close() = 0;
  virtual void SetCacheFlags(uint32_t flags) {}
  virtual bool CheckCacheFlags(uint32_t flags) = 0;
  virtual const std::u16string& GetName() = 0;
  // When the stream's bytes sit in memory: the bytes from the current position to the
  // end, valid until the stream is changed or destroyed (Seek64 moves past what was
  // used). False for streams that must produce their bytes (files, inflation); those
  // are read with Read.
  virtual bool PeekMemory(const uint8_t*& data, uint64_t& size) { return false; }
};

using ByteVector = std::vector<uint8_t>;

// Reads from a shared byte vector; never owns a file and never reports failure.
// Positions are not bounded: a read at or past the end gives 0 bytes.
class MemoryStreamReader : public ReadStreamI {
 public:
  MemoryStreamReader(SharedPtr<ByteVector> data, std::u16string name);

  bool IsOpen() override;
  uint64_t GetSize() override;
  uint32_t Read(void* buffer, uint32_t count) override;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override;
  bool ReadByte(uint8_t& out) override;
  uint32_t Seek(int origin, int32_t offset) override;
  int64_t Seek64(int origin, int64_t offset) override;
  void Close() override;
  bool CheckCacheFlags(uint32_t flags) override;
  const std::u16string& GetName() override;
  bool PeekMemory(const uint8_t*& data, uint64_t& size) override;

 private:
  SharedPtr<ByteVector> data_;
  uint64_t position_ = 0;
  std::u16string name_;
};

// The position an unbounded in-memory reader moves to: origin 0 from the start, 1 from
// position, 2 from size; any other origin leaves position where it is.
inline uint64_t UnboundedSeek(int origin, int64_t offset, uint64_t position, uint64_t size) {
  switch (origin) {
    case 0:
      return static_cast<uint64_t>(offset);
    case 1:
      return position + static_cast<uint64_t>(offset);
    case 2:
      return size + static_cast<uint64_t>(offset);
    default:
      return position;
  }
}

}  // namespace utils
