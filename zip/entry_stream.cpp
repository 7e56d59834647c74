#include "zip/entry_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "utils/crc32.h"
#include "zip/error.h"
#include "zip/format.h"

namespace amzip {

namespace {
constexpr uint32_t kBlock = 32768;  // input block and discard block
// zlib counts input in uInt; memory sources are fed in slices.
constexpr uint64_t kMaxSlice = 1u << 30;
// PeekMemory checks the CRC-32 this far ahead of what it hands out.
constexpr uint64_t kCheckStep = 1u << 20;
}  // namespace

struct EntryStream::Inflater {
  z_stream stream = {};
  bool ready = false;
  bool ended = false;     // Z_STREAM_END seen
  uint64_t fed = 0;       // compressed bytes handed to zlib so far
  uint64_t produced = 0;  // output offset reached
  std::unique_ptr<uint8_t[]> input;    // one block of a source not in memory
  std::unique_ptr<uint8_t[]> scratch;  // output that a forward seek discards
  ~Inflater() {
    if (ready) inflateEnd(&stream);
  }
};

EntryStream::EntryStream(EntryLocation data, utils::SharedPtr<RestartIndex> index)
    : data_(std::move(data)), index_(std::move(index)) {
  if (data_.method == kMethodStored) data_.size = data_.compressedSize;
  if (const uint8_t* base = data_.source ? data_.source->Data() : nullptr) {
    memory_ = base + data_.offset;
  }
}

EntryStream::~EntryStream() = default;

void EntryStream::Fail(int32_t code) {
  if (!failed_) failure_ = code;
  failed_ = true;
}

bool EntryStream::ReadSource(uint64_t offset, void* buffer, uint32_t size) {
  uint32_t got = 0;
  if (!data_.source->ReadAt(data_.offset + offset, buffer, size, got) || got != size) {
    // A file cut shorter since the check reads short.
    Fail(data_.source->Stamp() != data_.stamp ? AZERROR_CHANGED : ERROR_READ_FILE);
    return false;
  }
  if (data_.source->Stamp() != data_.stamp) {
    Fail(AZERROR_CHANGED);
    return false;
  }
  return true;
}

bool EntryStream::Account(const uint8_t* bytes, uint64_t at, uint64_t n) {
  if (at > checked_ || at + n <= checked_) return true;
  uint64_t skip = checked_ - at;
  crc_ = utils::Crc32(crc_, bytes + skip, static_cast<size_t>(n - skip));
  checked_ = at + n;
  if (checked_ == data_.size && crc_ != data_.crc32) {
    Fail(AZERROR_CRC);
    return false;
  }
  return true;
}

bool EntryStream::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  if (!open_ || failed_) return false;
  if (count == 0 || position_ >= data_.size) return true;
  uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(count, data_.size - position_));
  auto* out = static_cast<uint8_t*>(buffer);
  bool ok =
      data_.method == kMethodStored ? ReadStored(out, want, got) : ReadDeflated(out, want, got);
  if (!ok) {
    got = 0;
    return false;
  }
  position_ += got;
  return true;
}

bool EntryStream::ReadStored(uint8_t* out, uint32_t want, uint32_t& got) {
  if (memory_) {
    std::memcpy(out, memory_ + position_, want);
    got = want;
  } else if (ReadSource(position_, out, want)) {
    got = want;
  } else {
    return false;
  }
  return Account(out, position_, got);
}

bool EntryStream::Reposition() {
  const RestartPoint* point = index_ ? index_->Before(position_) : nullptr;
  // Going on from where the inflater stands is cheaper when it lies between the point
  // and the position.
  if (inflater_ && inflater_->ready && inflater_->produced <= position_ &&
      (!point || inflater_->produced >= point->out)) {
    return true;
  }
  if (!inflater_) inflater_ = std::make_unique<Inflater>();
  Inflater& z = *inflater_;
  if (!z.ready) {
    if (inflateInit2(&z.stream, -MAX_WBITS) != Z_OK) {
      Fail(ERROR_FLATE);
      return false;
    }
    z.ready = true;
  } else if (inflateReset(&z.stream) != Z_OK) {
    Fail(ERROR_FLATE);
    return false;
  }
  z.stream.avail_in = 0;
  z.ended = false;
  z.fed = point ? point->in : 0;
  z.produced = point ? point->out : 0;
  if (point) {
    if (point->bits > 0) {
      uint8_t before = 0;
      if (!ReadSource(point->in - 1, &before, 1)) return false;
      inflatePrime(&z.stream, point->bits, before >> (8 - point->bits));
    }
    inflateSetDictionary(&z.stream, point->window.data(), static_cast<uInt>(point->window.size()));
  }
  return true;
}

uint32_t EntryStream::Inflate(uint8_t* out, uint32_t count) {
  Inflater& z = *inflater_;
  z_stream& s = z.stream;
  uint32_t total = 0;
  while (total < count && !z.ended && !failed_) {
    if (s.avail_in == 0 && z.fed < data_.compressedSize) {
      uint64_t slice = std::min(data_.compressedSize - z.fed, memory_ ? kMaxSlice : kBlock);
      if (memory_) {
        s.next_in = const_cast<Bytef*>(memory_ + z.fed);
      } else {
        if (!z.input) z.input.reset(new uint8_t[kBlock]);
        if (!ReadSource(z.fed, z.input.get(), static_cast<uint32_t>(slice))) break;
        s.next_in = z.input.get();
      }
      s.avail_in = static_cast<uInt>(slice);
      z.fed += slice;
    }
    uint8_t* target = out ? out + total : z.scratch.get();
    uint32_t room = out ? count - total : std::min(count - total, kBlock);
    s.next_out = target;
    s.avail_out = room;
    uint64_t inBefore = z.fed - s.avail_in;
    int result = inflate(&s, Z_BLOCK);
    uint32_t made = room - s.avail_out;
    if (made > 0 && !Account(target, z.produced, made)) break;
    total += made;
    z.produced += made;
    inflated_ += made;
    if (result == Z_STREAM_END) {
      z.ended = true;  // short of the recorded size: ReadDeflated fails the read
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      Fail(ERROR_FLATE);
    } else if (made == 0 && s.avail_in == 0 && z.fed >= data_.compressedSize &&
               inBefore == z.fed) {
      Fail(ERROR_FLATE);  // the input ran out before the stream's end
    } else if (index_ && (s.data_type & 128) && !(s.data_type & 64) && index_->Wants(z.produced)) {
      // A block boundary that is not the end: a place to start again later.
      RestartPoint point;
      point.in = z.fed - s.avail_in;
      point.out = z.produced;
      point.bits = s.data_type & 7;
      point.window.resize(32768);
      uInt length = 0;
      if (inflateGetDictionary(&s, point.window.data(), &length) == Z_OK) {
        point.window.resize(length);
        index_->Add(std::move(point));
      }
    }
  }
  return total;
}

bool EntryStream::ReadDeflated(uint8_t* out, uint32_t want, uint32_t& got) {
  if (!Reposition()) return false;
  Inflater& z = *inflater_;
  if (!z.scratch) z.scratch.reset(new uint8_t[kBlock]);
  // Forward seeks are paid here: inflate and discard up to the position. Another reader
  // of the entry (the background indexer) may pass this one meanwhile; Reposition then
  // goes on from its newer point.
  while (z.produced < position_ && !z.ended && !failed_) {
    if (!Reposition()) return false;
    Inflate(nullptr, static_cast<uint32_t>(std::min<uint64_t>(position_ - z.produced, kBlock)));
  }
  if (!failed_ && z.produced == position_) got = Inflate(out, want);
  if (failed_) return false;
  if (got < want && !(z.ended && data_.size == kSizeUnknown)) {
    Fail(ERROR_FLATE);  // the stream ended before the recorded size
    return false;
  }
  return true;
}

bool EntryStream::Prepare(uint64_t& budget) {
  if (!open_ || failed_ || data_.method != kMethodDeflated || position_ >= data_.size) return true;
  if (!Reposition()) return true;  // the stream failed: the next Read says so
  Inflater& z = *inflater_;
  if (!z.scratch) z.scratch.reset(new uint8_t[kBlock]);
  while (z.produced < position_ && !z.ended && !failed_) {
    if (budget == 0) return false;
    // The background indexer may have passed this stream meanwhile.
    if (!Reposition()) return true;
    const uint64_t step = std::min({position_ - z.produced, budget, uint64_t{kBlock}});
    budget -= std::min<uint64_t>(budget, Inflate(nullptr, static_cast<uint32_t>(step)));
  }
  return true;
}

bool EntryStream::Ended() const { return inflater_ && inflater_->ended; }

uint64_t EntryStream::CompressedUsed() const {
  return inflater_ ? inflater_->fed - inflater_->stream.avail_in : 0;
}

int64_t EntryStream::Seek64(int origin, int64_t offset) {
  if (!open_ || failed_) return kSeekFailed;
  int64_t target = utils::SeekTarget(origin, offset, position_, data_.size);
  if (target >= 0) position_ = static_cast<uint64_t>(target);
  return target;
}

void EntryStream::Close() {
  open_ = false;
  inflater_.reset();
  position_ = 0;
}

uint64_t EntryStream::CheckAhead() {
  if (checked_ < position_) return data_.size;  // read from a seek onwards: not checkable
  // Hand out only what the CRC-32 has covered; check one step further when the position
  // has caught up with it.
  if (checked_ == position_ || checked_ - position_ < kCheckStep / 4) {
    const uint64_t n = std::min(kCheckStep, data_.size - checked_);
    if (memory_) {
      if (n > 0 && !Account(memory_ + checked_, checked_, n)) return position_;
    } else {
      if (!checkBlock_) checkBlock_.reset(new uint8_t[kBlock]);
      for (const uint64_t end = checked_ + n; checked_ < end;) {
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(kBlock, end - checked_));
        uint32_t got = 0;
        if (!data_.source->ReadAt(data_.offset + checked_, checkBlock_.get(), want, got) ||
            got != want) {
          Fail(ERROR_READ_FILE);
          return position_;
        }
        if (!Account(checkBlock_.get(), checked_, got)) return position_;
      }
    }
  }
  return checked_;
}

bool EntryStream::PeekMemory(const uint8_t*& data, uint64_t& size) {
  if (!open_ || data_.method != kMethodStored || !memory_) return false;
  data = nullptr;
  size = 0;
  if (failed_ || position_ >= data_.size) return true;
  const uint64_t end = CheckAhead();
  if (failed_) return true;
  data = memory_ + position_;
  size = end - position_;
  return true;
}

bool EntryStream::Vouched(uint64_t& size) {
  size = 0;
  if (!open_ || data_.method != 0) return false;
  if (failed_ || position_ >= data_.size) return true;
  const uint64_t end = CheckAhead();
  if (!failed_) size = end - position_;
  return true;
}

bool EntryStream::FileSpan(uintptr_t& file, uint64_t& offset) const {
  uint64_t start = 0;
  if (data_.method != 0 || !data_.source || !data_.source->FileAt(file, start)) return false;
  offset = start + data_.offset;
  return true;
}

}  // namespace amzip
