#include "content/gzip_member.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace storage {

GzipMemberStream::GzipMemberStream(utils::SharedPtr<amzip::Archive> archive, const uint8_t* raw,
                                   uint64_t rawSize, uint32_t crc32, uint64_t uncompressedSize,
                                   std::u16string name)
    : archive_(std::move(archive)), raw_(raw), rawSize_(rawSize), name_(std::move(name)) {
  // Magic, method deflate, no flags, no modification time, no extra flags, OS unknown.
  const uint8_t header[kHeaderSize] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0xFF};
  std::memcpy(header_, header, kHeaderSize);
  // CRC-32 and the size modulo 2^32, little-endian.
  for (int i = 0; i < 4; ++i) {
    trailer_[i] = static_cast<uint8_t>(crc32 >> (8 * i));
    trailer_[4 + i] = static_cast<uint8_t>(uncompressedSize >> (8 * i));
  }
}

bool GzipMemberStream::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint64_t size = GetSize();
  while (got < count && position_ < size) {
    const uint8_t* from;
    uint64_t left;
    if (position_ < kHeaderSize) {
      from = header_ + position_;
      left = kHeaderSize - position_;
    } else if (position_ < kHeaderSize + rawSize_) {
      from = raw_ + (position_ - kHeaderSize);
      left = kHeaderSize + rawSize_ - position_;
    } else {
      from = trailer_ + (position_ - kHeaderSize - rawSize_);
      left = size - position_;
    }
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, count - got));
    std::memcpy(out + got, from, n);
    got += n;
    position_ += n;
  }
  return true;
}

int64_t GzipMemberStream::Seek64(int origin, int64_t offset) {
  const int64_t target = utils::SeekTarget(origin, offset, position_, GetSize());
  if (target != kSeekFailed) position_ = static_cast<uint64_t>(target);
  return target;
}

}  // namespace storage
