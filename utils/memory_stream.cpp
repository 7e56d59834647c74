#include <cstring>
#include <limits>

#include "utils/read_stream.h"

namespace utils {

uint32_t ReadStreamI::Read(void* buffer, uint32_t count) {
  uint32_t got = 0;
  Read(buffer, count, got);
  return got;
}

bool ReadStreamI::ReadByte(uint8_t& out) {
  uint32_t got = 0;
  return Read(&out, 1, got) && got == 1;
}

uint32_t ReadStreamI::Seek(int origin, int32_t offset) {
  int64_t position = Seek64(origin, offset);
  return position < 0 ? kSeekFailed32 : static_cast<uint32_t>(position);
}

const std::u16string& ReadStreamI::GetName() {
  static const std::u16string kNone;
  return kNone;
}

int64_t SeekTarget(int origin, int64_t offset, uint64_t position, uint64_t size) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t base = 0;
  switch (origin) {
    case 0:
      break;
    case 1:
      base = position;
      break;
    case 2:
      base = size;
      break;
    default:
      return ReadStreamI::kSeekFailed;
  }
  if (base > kMax) return ReadStreamI::kSeekFailed;
  int64_t start = static_cast<int64_t>(base);
  // start is not negative, so start + offset cannot overflow downwards.
  if (offset < 0 ? start + offset < 0 : start > std::numeric_limits<int64_t>::max() - offset) {
    return ReadStreamI::kSeekFailed;
  }
  return start + offset;
}

MemoryStreamReader::MemoryStreamReader(SharedPtr<ByteVector> data, std::u16string name)
    : data_(std::move(data)), name_(std::move(name)) {}

MemoryStreamReader::MemoryStreamReader(const std::string& bytes, std::u16string name)
    : data_(new ByteVector(bytes.begin(), bytes.end())), name_(std::move(name)) {}

uint64_t MemoryStreamReader::GetSize() { return data_ ? data_->size() : 0; }

bool MemoryStreamReader::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  // The vector's own size, not GetSize(): a subclass may claim another.
  const uint64_t size = data_ ? data_->size() : 0;
  if (buffer == nullptr || position_ >= size) return true;
  uint64_t n = count;
  if (size - position_ < n) n = size - position_;
  std::memcpy(buffer, data_->data() + position_, n);
  position_ += n;
  got = static_cast<uint32_t>(n);
  return true;
}

int64_t MemoryStreamReader::Seek64(int origin, int64_t offset) {
  int64_t target = SeekTarget(origin, offset, position_, data_ ? data_->size() : 0);
  if (target >= 0) position_ = static_cast<uint64_t>(target);
  return target;
}

void MemoryStreamReader::Close() {
  position_ = 0;
  name_.clear();
}

const std::u16string& MemoryStreamReader::GetName() { return name_; }

bool MemoryStreamReader::PeekMemory(const uint8_t*& data, uint64_t& size) {
  const uint64_t total = data_ ? data_->size() : 0;
  if (position_ >= total) {
    data = nullptr;
    size = 0;
    return true;
  }
  data = data_->data() + position_;
  size = total - position_;
  return true;
}

}  // namespace utils
