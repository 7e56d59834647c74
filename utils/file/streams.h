// utils::ReadFileStream: a utils::ReadStreamI over a file on disk (bytes in memory are
// read with utils::MemoryStreamReader). It keeps the stream contract of read_stream.h:
// a failed seek answers -1 rather than throwing. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "utils/file/file.h"
#include "utils/read_stream.h"

namespace utils {

// Reads a file through a utils::File it owns (opened without allocator, so uncached).
// A stream whose open failed has no file: it is not open, has size 0 and reads nothing.
class ReadFileStream : public ReadStreamI {
 public:
  explicit ReadFileStream(const std::u16string& path);

  bool IsOpen() override;
  uint64_t GetSize() override;
  using ReadStreamI::Read;
  bool Read(void* buffer, uint32_t count, uint32_t& got) override;
  int64_t Seek64(int origin, int64_t offset) override;
  void Close() override;
  void SetCacheFlags(uint32_t flags) override;
  bool CheckCacheFlags(uint32_t flags) override;
  const std::u16string& GetName() override;
  void SetName(const std::u16string& name) { name_ = name; }

 private:
  std::unique_ptr<File> file_;
  std::u16string name_;
};

}  // namespace utils
