#include "utils/file/file.h"

#include <algorithm>
#include <cstring>

#include "utils/exception.h"

namespace utils {
namespace {

std::u16string ThisSourceFile() {
  const char* path = __FILE__;
  return std::u16string(path, path + std::strlen(path));
}

[[noreturn]] void ThrowNoAllocator(unsigned line) {
  std::u16string source = ThisSourceFile();
  throw Exception(u"no allocator", FormatSourceLocation(source.c_str(), line));
}

}  // namespace

File::File(Allocator* allocator)
    : allocator_(allocator), cacheFlags_(allocator ? kCacheNetworkPaths : 0) {}

File::~File() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; the handle is closed before anything can throw.
  }
  delete allocator_;
}

bool File::IsOpen() { return handle_ != native::kInvalidFile; }

bool File::IsUncPath(const std::u16string& path) {
  auto sep = [](char16_t c) { return c == u'\\' || c == u'/'; };
  if (path.size() < 3 || !sep(path[0]) || !sep(path[1])) return false;
  if (path[2] == u'.' && (path.size() == 3 || sep(path[3]))) return false;
  if (path[2] == u'?' && (path.size() == 3 || sep(path[3]))) {
    std::u16string rest = path.substr(std::min<size_t>(4, path.size()), 4);
    return rest.size() == 4 && (rest[0] == u'U' || rest[0] == u'u') &&
           (rest[1] == u'N' || rest[1] == u'n') && (rest[2] == u'C' || rest[2] == u'c') &&
           sep(rest[3]);
  }
  return !sep(path[2]);
}

bool File::WantsCache(const std::u16string& path) const {
  return (cacheFlags_ & kCacheAlways) || ((cacheFlags_ & kCacheNetworkPaths) && IsUncPath(path));
}

void File::AllocateCache(unsigned line) {
  if (!allocator_) ThrowNoAllocator(line);
  if (!cache_) cache_ = static_cast<uint8_t*>(allocator_->Alloc(cacheSize_));
  DropCache();
}

bool File::Close() {
  if (!IsOpen()) return false;
  bool closed = native::CloseFile(handle_);
  handle_ = native::kInvalidFile;
  if (cache_) {
    if (!allocator_) ThrowNoAllocator(__LINE__);
    void* block = cache_;
    cache_ = nullptr;
    allocator_->Free(block);
  }
  DropCache();
  cacheFlags_ = 0;
  return closed;
}

bool File::Open(const std::u16string& path, bool write, bool keepName) {
  Close();
  handle_ = native::OpenExisting(path, write);
  if (keepName) name_ = path;
  // Only a file that opened gets a cache: a failed open must not leave a block behind
  // that no Close would give back.
  if (IsOpen() && !write && WantsCache(path)) {
    AllocateCache(__LINE__);
    if (cache_) cacheFlags_ = (cacheFlags_ | kReadCacheActive) & ~kWriteCacheActive;
  }
  return IsOpen();
}

bool File::Create(const std::u16string& path, bool keepName) {
  Close();
  handle_ = native::CreateAlways(path);
  if (IsOpen()) {
    if (WantsCache(path)) {
      AllocateCache(__LINE__);
      if (cache_) cacheFlags_ = (cacheFlags_ | kWriteCacheActive) & ~kReadCacheActive;
    }
    if (keepName) name_ = path;
  }
  return IsOpen();
}

bool File::OpenRead(const std::u16string& path) { return Open(path, false, true); }

const std::u16string& File::GetName() { return name_; }

uint64_t File::GetSize() {
  if (!IsOpen()) return 0;
  uint64_t size = 0;
  if (!native::GetFileSize(handle_, size)) return 0;
  if (WriteCacheActive()) size += cacheFill_;
  return size;
}

void File::SetCacheFlags(uint32_t flags) {
  flags &= 0xF;
  if ((flags & 3) == 3)
    throw NotImplementedException(u"Either read or write caching is implemented",
                                  u"File::SetCacheFlags");
  // Any change of the active bits flushes, switching a cache off too: otherwise the bytes
  // still unread in the block would be skipped, since the handle stands past them.
  if ((flags & 3) != (cacheFlags_ & 3)) Flush();
  cacheFlags_ = flags;
}

void File::Flush() {
  if (!IsOpen()) return;
  if (cache_) {
    if (WriteCacheActive() && cacheIndex_ < cacheFill_) {
      uint32_t written = 0;
      uint32_t count = cacheFill_ - cacheIndex_;
      if (!native::WriteFile(handle_, cache_ + cacheIndex_, count, written) || written != count)
        throw CantWriteException(u"", u"File::Flush");
    }
    if (ReadCacheActive() && cacheIndex_ < cacheFill_) {
      // The handle stands at the end of the cached block; put it back where the caller's
      // next byte is.
      int64_t back = -static_cast<int64_t>(cacheFill_ - cacheIndex_);
      uint64_t position = 0;
      native::SetFilePointer64(handle_, back, 1, position);
    }
    DropCache();
  }
  native::FlushFileBuffers(handle_);
}

uint32_t File::Seek(int origin, int32_t offset) {
  if (ReadCacheActive() && (origin == 0 || origin == 1)) {
    uint64_t end = 0;
    if (native::SetFilePointer64(handle_, 0, 1, end)) {
      uint64_t start = end - cacheFill_;
      if (origin == 0) {
        if (offset >= 0 && static_cast<uint64_t>(offset) >= start &&
            static_cast<uint64_t>(offset) < end) {
          cacheIndex_ = static_cast<uint32_t>(offset - start);
          return static_cast<uint32_t>(offset);
        }
        // An absolute move leaves nothing of the block worth keeping, and the handle's
        // position is about to be set anyway.
        DropCache();
        return native::SetFilePointer32(handle_, offset, origin);
      }
      if (offset == 0) return static_cast<uint32_t>(end - cacheFill_ + cacheIndex_);
      if ((offset > 0 && static_cast<uint32_t>(offset) < cacheFill_ - cacheIndex_) ||
          (offset < 0 && static_cast<int64_t>(cacheIndex_) + offset >= 0)) {
        cacheIndex_ = static_cast<uint32_t>(static_cast<int64_t>(cacheIndex_) + offset);
        return static_cast<uint32_t>(end - cacheFill_ + cacheIndex_);
      }
    }
  }
  Flush();
  return native::SetFilePointer32(handle_, offset, origin);
}

uint64_t File::Seek64(int origin, int64_t offset) {
  Flush();
  uint64_t position = 0;
  if (!IsOpen() || !native::SetFilePointer64(handle_, offset, origin, position))
    throw Exception(u"Seek failed", u"File::Seek64");
  return position;
}

bool File::SetEndOfFile() {
  Flush();
  return IsOpen() && native::SetEndOfFile(handle_);
}

bool File::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  if (!buffer) throw ParameterException(u"zero-ptr passed", u"File::Read");
  if (count == 0) return true;
  if (!IsOpen()) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (!ReadCacheActive()) return native::ReadFile(handle_, out, count, got);

  if (cacheIndex_ >= cacheFill_) {
    // Nothing unread in the block. Keep the block empty (not merely used up) whenever the
    // handle moves past it, so Seek's idea of where the block lies stays true.
    DropCache();
    if (count > cacheSize_) return native::ReadFile(handle_, out, count, got);
    uint32_t filled = 0;
    if (!native::ReadFile(handle_, cache_, cacheSize_, filled) || filled == 0) return false;
    cacheFill_ = filled;
  }
  uint32_t k = std::min(cacheFill_ - cacheIndex_, count);
  std::memcpy(out, cache_ + cacheIndex_, k);
  cacheIndex_ += k;
  got = k;
  if (k == count) return true;

  uint32_t rest = count - k;
  DropCache();
  if (rest >= cacheSize_) {
    uint32_t direct = 0;
    bool ok = native::ReadFile(handle_, out + k, rest, direct);
    got = k + direct;
    return ok;
  }
  uint32_t filled = 0;
  if (!native::ReadFile(handle_, cache_, cacheSize_, filled)) return false;
  cacheFill_ = filled;
  uint32_t n = std::min(rest, cacheFill_);
  std::memcpy(out + k, cache_, n);
  cacheIndex_ = n;
  got = k + n;
  return true;
}

uint32_t File::Read(void* buffer, uint32_t count) {
  uint32_t got = 0;
  Read(buffer, count, got);
  return got;
}

uint32_t File::Write(const void* buffer, uint32_t count) {
  if (!buffer) throw ParameterException(u"zero-ptr passed", u"File::Write");
  if (!IsOpen()) return 0;
  uint32_t written = 0;
  native::WriteFile(handle_, buffer, count, written);
  return written;
}

bool File::ReadByte(uint8_t& out) { return Read(&out, 1) == 1; }

uint8_t File::ReadByte() {
  uint8_t value = 0;
  if (Read(&value, 1) != 1) throw CantReadException(u"EOF/ERROR", u"File::ReadByte");
  return value;
}

uint32_t File::WriteByte(uint8_t value) { return Write(&value, 1); }

bool File::Lock(uint32_t offsetLow, uint32_t offsetHigh, uint32_t lengthLow, uint32_t lengthHigh) {
  if (!IsOpen()) return false;
  return native::LockFile(handle_, (uint64_t{offsetHigh} << 32) | offsetLow,
                          (uint64_t{lengthHigh} << 32) | lengthLow);
}

bool File::Unlock(uint32_t offsetLow, uint32_t offsetHigh, uint32_t lengthLow,
                  uint32_t lengthHigh) {
  if (!IsOpen()) return false;
  return native::UnlockFile(handle_, (uint64_t{offsetHigh} << 32) | offsetLow,
                            (uint64_t{lengthHigh} << 32) | lengthLow);
}

bool File::SetTime(const uint64_t* creation, const uint64_t* lastAccess,
                   const uint64_t* lastWrite) {
  if (!IsOpen()) return false;
  return native::SetFileTime(handle_, creation, lastAccess, lastWrite);
}

}  // namespace utils
