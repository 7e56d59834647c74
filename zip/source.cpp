#include <cstring>

#include "zip/source.h"

namespace amzip {

FileReader::~FileReader() { Close(); }

bool FileReader::IsOpen() { return file_ != nullptr; }

bool FileReader::Read(void* buffer, uint32_t size, uint32_t& got) {
  got = 0;
  if (!file_) return false;
  size_t n = fread(buffer, 1, size, file_);
  got = static_cast<uint32_t>(n);
  // At the end of the file 0 bytes without an error flag is success.
  return n > 0 || !ferror(file_);
}

void FileReader::Close() {
  if (file_) fclose(file_);
  file_ = nullptr;
}

MemReader::MemReader(const void* data, uint64_t size)
    : data_(static_cast<const uint8_t*>(data)), size_(size) {}

bool MemReader::IsOpen() { return data_ != nullptr; }

bool MemReader::Read(void* buffer, uint32_t size, uint32_t& got) {
  got = 0;
  if (size == 0) return true;
  if (!data_ || position_ >= size_) return false;
  uint64_t n = size_ - position_;
  if (n > size) n = size;
  std::memcpy(buffer, data_ + position_, n);
  position_ += n;
  got = static_cast<uint32_t>(n);
  return true;
}

bool MemReader::Seek(int32_t offset, int origin) {
  if (!data_) return false;
  // Unsigned arithmetic: a position before the start wraps to a huge value and reads
  // nothing, as a position past the end does.
  uint64_t delta = static_cast<uint64_t>(static_cast<int64_t>(offset));
  switch (origin) {
    case 0:
      position_ = delta;
      return true;
    case 1:
      position_ += delta;
      return true;
    case 2:
      position_ = size_ + delta;
      return true;
    default:
      return false;
  }
}

uint64_t MemReader::Tell() { return position_; }

void MemReader::Close() {
  data_ = nullptr;
  size_ = 0;
  position_ = 0;
}

}  // namespace amzip
