#include "content/gzip_member.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace storage {

GzipMemberStream::GzipMemberStream(amzip::EntryLocation where, std::u16string name)
    : where_(std::move(where)), name_(std::move(name)) {
  if (const uint8_t* base = where_.source ? where_.source->Data() : nullptr) {
    raw_ = base + where_.offset;
  }
  // Magic, method deflate, no flags, no modification time, no extra flags, OS unknown.
  const uint8_t header[kHeaderSize] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0xFF};
  std::memcpy(header_, header, kHeaderSize);
  // CRC-32 and the size modulo 2^32, little-endian.
  for (int i = 0; i < 4; ++i) {
    trailer_[i] = static_cast<uint8_t>(where_.crc32 >> (8 * i));
    trailer_[4 + i] = static_cast<uint8_t>(where_.size >> (8 * i));
  }
}

bool GzipMemberStream::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  if (failed_) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint64_t size = GetSize();
  const uint64_t rawSize = where_.compressedSize;
  while (got < count && position_ < size) {
    const uint8_t* from = nullptr;
    uint64_t left;
    if (position_ < kHeaderSize) {
      from = header_ + position_;
      left = kHeaderSize - position_;
    } else if (position_ < kHeaderSize + rawSize) {
      left = kHeaderSize + rawSize - position_;
      if (raw_) from = raw_ + (position_ - kHeaderSize);
    } else {
      from = trailer_ + (position_ - kHeaderSize - rawSize);
      left = size - position_;
    }
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, count - got));
    if (from) {
      std::memcpy(out + got, from, n);
    } else {
      uint32_t read = 0;
      const uint64_t at = where_.offset + (position_ - kHeaderSize);
      if (!where_.source->ReadAt(at, out + got, n, read) || read != n ||
          where_.source->Stamp() != where_.stamp) {
        failed_ = true;  // cut or changed: the client must not take a short member for whole
        got = 0;
        return false;
      }
    }
    got += n;
    position_ += n;
  }
  return true;
}

int64_t GzipMemberStream::Seek64(int origin, int64_t offset) {
  if (failed_) return kSeekFailed;
  const int64_t target = utils::SeekTarget(origin, offset, position_, GetSize());
  if (target != kSeekFailed) position_ = static_cast<uint64_t>(target);
  return target;
}

}  // namespace storage
