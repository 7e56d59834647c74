#include "zip/entry_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "zip/archive.h"

namespace amzip {

namespace {
constexpr uint32_t kScratchSize = 16384;
// zlib counts input in uInt; larger entries are fed in slices.
constexpr uint64_t kMaxSlice = 1u << 30;
}  // namespace

struct EntryStream::Inflater {
  z_stream stream = {};
  bool ready = false;
  bool ended = false;     // Z_STREAM_END seen
  uint64_t fed = 0;       // compressed bytes handed to zlib so far
  uint64_t produced = 0;  // bytes inflated since the start
  std::unique_ptr<uint8_t[]> scratch;
  ~Inflater() {
    if (ready) inflateEnd(&stream);
  }
};

EntryStream::EntryStream(const uint8_t* data, uint64_t compressedSize, uint64_t size,
                         uint16_t method, std::u16string name)
    : data_(data),
      compressedSize_(compressedSize),
      size_(method == 0 ? compressedSize : size),
      method_(method),
      name_(std::move(name)) {}

EntryStream::~EntryStream() = default;

bool EntryStream::IsOpen() { return open_; }

uint64_t EntryStream::GetSize() { return size_; }

bool EntryStream::Restart() {
  if (!inflater_) {
    inflater_ = std::make_unique<Inflater>();
    if (inflateInit2(&inflater_->stream, -MAX_WBITS) != Z_OK) {
      failed_ = true;
      return false;
    }
    inflater_->ready = true;
  } else if (inflateReset(&inflater_->stream) != Z_OK) {
    failed_ = true;
    return false;
  }
  inflater_->stream.avail_in = 0;
  inflater_->ended = false;
  inflater_->fed = 0;
  inflater_->produced = 0;
  return true;
}

uint32_t EntryStream::Inflate(uint8_t* out, uint32_t count) {
  Inflater& z = *inflater_;
  z_stream& s = z.stream;
  uint32_t total = 0;
  while (total < count && !z.ended && !failed_) {
    if (s.avail_in == 0 && z.fed < compressedSize_) {
      uint64_t slice = std::min(compressedSize_ - z.fed, kMaxSlice);
      s.next_in = const_cast<Bytef*>(data_ + z.fed);
      s.avail_in = static_cast<uInt>(slice);
      z.fed += slice;
    }
    uint8_t* target = out ? out + total : z.scratch.get();
    uint32_t room = out ? count - total : std::min(count - total, kScratchSize);
    s.next_out = target;
    s.avail_out = room;
    int result = inflate(&s, Z_SYNC_FLUSH);
    uint32_t made = room - s.avail_out;
    total += made;
    z.produced += made;
    if (result == Z_STREAM_END) {
      z.ended = true;
    } else if (result != Z_OK || (made == 0 && s.avail_in == 0 && z.fed >= compressedSize_)) {
      // Corrupt data, or the input ran out before the stream's end.
      failed_ = true;
    }
  }
  return total;
}

bool EntryStream::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  if (!open_ || count == 0 || position_ >= size_) return open_;
  uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(count, size_ - position_));
  if (method_ == 0) {
    std::memcpy(buffer, data_ + position_, want);
    got = want;
    position_ += want;
    return true;
  }
  if (!inflater_ || inflater_->produced > position_) {
    if (!Restart()) return false;
  }
  if (!inflater_->scratch) inflater_->scratch.reset(new uint8_t[kScratchSize]);
  // Forward seeks are paid here: inflate and discard up to the position.
  while (inflater_->produced < position_ && !inflater_->ended && !failed_) {
    uint64_t gap = position_ - inflater_->produced;
    Inflate(nullptr, static_cast<uint32_t>(std::min<uint64_t>(gap, kScratchSize)));
  }
  if (inflater_->produced == position_) got = Inflate(static_cast<uint8_t*>(buffer), want);
  position_ += got;
  return got > 0 || !failed_;
}

uint32_t EntryStream::Read(void* buffer, uint32_t count) {
  uint32_t got = 0;
  Read(buffer, count, got);
  return got;
}

bool EntryStream::ReadByte(uint8_t& out) {
  uint32_t got = 0;
  return Read(&out, 1, got) && got == 1;
}

int64_t EntryStream::Seek64(int origin, int64_t offset) {
  int64_t base = 0;
  switch (origin) {
    case 0:
      break;
    case 1:
      base = static_cast<int64_t>(position_);
      break;
    case 2:
      base = static_cast<int64_t>(size_);
      break;
    default:
      return -1;
  }
  if ((offset < 0 && base < -offset) || (offset > 0 && base > INT64_MAX - offset)) return -1;
  position_ = static_cast<uint64_t>(base + offset);
  return static_cast<int64_t>(position_);
}

uint32_t EntryStream::Seek(int origin, int32_t offset) {
  int64_t result = Seek64(origin, offset);
  return static_cast<uint32_t>(result < 0 ? position_ : static_cast<uint64_t>(result));
}

void EntryStream::Close() {
  open_ = false;
  inflater_.reset();
  position_ = 0;
}

bool EntryStream::CheckCacheFlags(uint32_t flags) { return (flags & 7) == flags; }

const std::u16string& EntryStream::GetName() { return name_; }

bool EntryStream::PeekMemory(const uint8_t*& data, uint64_t& size) {
  if (!open_ || method_ != 0) return false;
  data = position_ < size_ ? data_ + position_ : nullptr;
  size = position_ < size_ ? size_ - position_ : 0;
  return true;
}

const uint8_t* Archive::EntryData(const Entry& entry) const {
  if (!memData_ || !IsOpen() || currentVolume_ < 0) return nullptr;
  if (entry.diskStart != volumes_[currentVolume_].number) return nullptr;
  // A negative bias wraps to a huge offset, which the bounds below refuse.
  uint64_t header = entry.localHeaderOffset + static_cast<uint64_t>(offsetBias_);
  if (header >= memSize_ || memSize_ - header < 30) return nullptr;
  const uint8_t* p = memData_ + header;
  uint64_t dataStart = header + 30 + (p[26] | p[27] << 8) + (p[28] | p[29] << 8);
  if (dataStart > memSize_ || memSize_ - dataStart < entry.compressedSize) return nullptr;
  return memData_ + dataStart;
}

utils::SharedPtr<utils::ReadStreamI> Archive::OpenEntryStream(const std::u16string& name) {
  const Entry* entry = FindEntry(name);
  if (!entry) return {};
  return OpenEntryStream(*entry);
}

utils::SharedPtr<utils::ReadStreamI> Archive::OpenEntryStream(const Entry& entry) {
  if (entry.method != 0 && entry.method != 8) return {};
  const uint8_t* data = EntryData(entry);
  if (!data) return {};
  return utils::SharedPtr<utils::ReadStreamI>(new EntryStream(
      data, entry.compressedSize, entry.uncompressedSize, entry.method, entry.name));
}

}  // namespace amzip
