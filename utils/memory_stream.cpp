#include <cstring>

#include "utils/read_stream.h"

namespace utils {

MemoryStreamReader::MemoryStreamReader(SharedPtr<ByteVector> data, std::u16string name)
    : data_(std::move(data)), name_(std::move(name)) {}

bool MemoryStreamReader::IsOpen() { return true; }

uint64_t MemoryStreamReader::GetSize() { return data_ ? data_->size() : 0; }

bool MemoryStreamReader::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  uint64_t size = GetSize();
  if (size == 0 || buffer == nullptr) return true;
  // A position whose high half reads as negative (a seek before the start) reads nothing.
  if (position_ >= size || static_cast<int32_t>(position_ >> 32) < 0) return true;
  uint64_t n = count;
  if (size - position_ < n) n = size - position_;
  std::memcpy(buffer, data_->data() + position_, n);
  position_ += n;
  got = static_cast<uint32_t>(n);
  return true;
}

uint32_t MemoryStreamReader::Read(void* buffer, uint32_t count) {
  uint32_t got = 0;
  Read(buffer, count, got);
  return got;
}

// At the end there is no byte to give: false, rather than true with out unset.
bool MemoryStreamReader::ReadByte(uint8_t& out) {
  uint32_t got = 0;
  return Read(&out, 1, got) && got == 1;
}

int64_t MemoryStreamReader::Seek64(int origin, int64_t offset) {
  position_ = UnboundedSeek(origin, offset, position_, GetSize());
  return static_cast<int64_t>(position_);
}

uint32_t MemoryStreamReader::Seek(int origin, int32_t offset) {
  return static_cast<uint32_t>(Seek64(origin, offset));
}

void MemoryStreamReader::Close() {
  position_ = 0;
  name_.clear();
}

bool MemoryStreamReader::CheckCacheFlags(uint32_t flags) { return (flags & 7) == flags; }

const std::u16string& MemoryStreamReader::GetName() { return name_; }

bool MemoryStreamReader::PeekMemory(const uint8_t*& data, uint64_t& size) {
  uint64_t total = GetSize();
  if (total == 0 || position_ >= total) {
    data = nullptr;
    size = 0;
    return true;
  }
  data = data_->data() + position_;
  size = total - position_;
  return true;
}

}  // namespace utils
