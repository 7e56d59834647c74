// Two utils::ReadStreamI streams: ReadFileStream over a file on disk and StreamReader
// over an 8-bit string held in memory. Neither locks; one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "utils/file/file.h"
#include "utils/read_stream.h"

namespace utils {

// Reads a file through a utils::File it owns (opened without allocator, so uncached).
// A stream whose open failed has no file: it is not open, has size 0 and reads nothing.
class ReadFileStream : public ReadStreamI {
 public:
  explicit ReadFileStream(const std::u16string& path);
  ReadFileStream(const ReadFileStream&) = delete;
  ReadFileStream& operator=(const ReadFileStream&) = delete;
  ~ReadFileStream() override;

  bool IsOpen() override;
  uint64_t GetSize() override;
  uint32_t Read(void* buffer, uint32_t count) override;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override;
  bool ReadByte(uint8_t& out) override;
  uint32_t Seek(int origin, int32_t offset) override;
  int64_t Seek64(int origin, int64_t offset) override;
  void Close() override;
  void SetCacheFlags(uint32_t flags) override;
  bool CheckCacheFlags(uint32_t flags) override;
  const std::u16string& GetName() override;
  virtual void SetName(const std::u16string& name);

 private:
  File* file_ = nullptr;
  bool ownsFile_ = true;
  std::u16string name_;
};

// Reads a copy of an 8-bit string. Positions are not bounded: past the end reads give
// 0 bytes.
class StreamReader : public ReadStreamI {
 public:
  StreamReader(std::string data, std::u16string name);

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

 private:
  std::string data_;
  uint64_t position_ = 0;
  std::u16string name_;
};

}  // namespace utils
