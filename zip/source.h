// Byte sources the ZIP reader reads archives through: amzip::ReadI, with one
// implementation over a file (amzip::FileReader) and one over memory (amzip::MemReader).
//
// Sources report failure only through their results; the archive object turns them into
// error records. A source is used by one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace amzip {

class ReadI {
 public:
  virtual ~ReadI() = default;
  virtual bool IsOpen() = 0;
  // Reads up to size bytes; got receives the count. Reading at the end is not an error
  // for a file (0 bytes, true); see the implementations.
  virtual bool Read(void* buffer, uint32_t size, uint32_t& got) = 0;
  // origin 0: from the beginning, 1: from the current position, 2: from the end.
  virtual bool Seek(int32_t offset, int origin) = 0;
  virtual uint64_t Tell() = 0;
  virtual void Close() = 0;
};

// A file opened for binary reading that other processes may still read and write
// (Windows: _wfsopen with _SH_DENYNO; POSIX: the UTF-8 path, close-on-exec). Owns the
// stream and closes it on destruction.
class FileReader : public ReadI {
 public:
  explicit FileReader(const std::u16string& path);
  ~FileReader() override;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool IsOpen() override;
  bool Read(void* buffer, uint32_t size, uint32_t& got) override;
  bool Seek(int32_t offset, int origin) override;
  uint64_t Tell() override;
  void Close() override;

 private:
  FILE* file_ = nullptr;
};

// Reads a block of memory it does not own; the block must outlive the reader. The
// position is not bounded by the size: reads at or past the end give 0 bytes and false.
class MemReader : public ReadI {
 public:
  MemReader(const void* data, uint64_t size);

  bool IsOpen() override;
  bool Read(void* buffer, uint32_t size, uint32_t& got) override;
  bool Seek(int32_t offset, int origin) override;
  uint64_t Tell() override;
  void Close() override;

  const uint8_t* Data() const { return data_; }
  uint64_t Size() const { return size_; }

 private:
  const uint8_t* data_;
  uint64_t size_;
  uint64_t position_ = 0;
};

}  // namespace amzip
