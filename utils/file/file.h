// utils::File: a file handle with an optional 128 KiB read cache.
//
// Owns its handle, its allocator (given at construction, deleted with the file) and the
// cache taken from that allocator. The cache is allocated at open time according to the
// cache flags and given back at Close; Close also clears the flags, so a caller that wants
// caching sets them while the file is closed, before each open. Writes always go straight
// to the file. One thread at a time; nothing here locks.
//
// Misuse and some failures throw members of the utils::Exception family (a null buffer,
// ReadByte() at the end, a failed Seek64, a failed Flush of the write cache, an impossible
// cache flag combination, a cache wanted without an allocator); everything else is
// reported by results.
#pragma once

#include <cstdint>
#include <string>

#include "utils/allocator.h"
#include "utils/file/file_os.h"

namespace utils {

class File {
 public:
  // Cache flag bits.
  static constexpr uint32_t kReadCacheActive = 1;
  static constexpr uint32_t kWriteCacheActive = 2;
  static constexpr uint32_t kCacheAlways = 4;
  static constexpr uint32_t kCacheNetworkPaths = 8;
  static constexpr uint32_t kCacheSize = 0x20000;

  // Takes ownership of allocator (may be null: no cache can then be had). With an
  // allocator the flags start as kCacheNetworkPaths.
  explicit File(Allocator* allocator = nullptr);
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  virtual ~File();

  virtual bool IsOpen();
  virtual bool Close();
  virtual bool Open(const std::u16string& path, bool write, bool keepName);
  virtual bool Create(const std::u16string& path, bool keepName);
  virtual const std::u16string& GetName();
  virtual uint64_t GetSize();
  // Origins: 0 the beginning, 1 the current position, 2 the end. Seek answers the low
  // 32 bits of the new position, 0xFFFFFFFF on failure.
  virtual uint32_t Seek(int origin, int32_t offset);
  virtual uint64_t Seek64(int origin, int64_t offset);
  virtual void Flush();
  virtual bool SetEndOfFile();
  virtual uint32_t Read(void* buffer, uint32_t count);
  virtual bool Read(void* buffer, uint32_t count, uint32_t& got);
  virtual uint32_t Write(const void* buffer, uint32_t count);
  virtual bool ReadByte(uint8_t& out);
  virtual uint8_t ReadByte();
  virtual uint32_t WriteByte(uint8_t value);
  virtual bool Lock(uint32_t offsetLow, uint32_t offsetHigh, uint32_t lengthLow,
                    uint32_t lengthHigh);
  virtual bool Unlock(uint32_t offsetLow, uint32_t offsetHigh, uint32_t lengthLow,
                      uint32_t lengthHigh);
  // FILETIME values (100 ns since 1601, UTC); null leaves that time unchanged.
  virtual bool SetTime(const uint64_t* creation, const uint64_t* lastAccess,
                       const uint64_t* lastWrite);
  virtual bool OpenRead(const std::u16string& path);

  void SetCacheFlags(uint32_t flags);
  uint32_t GetCacheFlags() const { return cacheFlags_; }

  // Whether path names a network share in UNC form ("\\server\share", also with forward
  // slashes, or "\\?\UNC\..."); device paths ("\\.\", "\\?\C:") are not.
  static bool IsUncPath(const std::u16string& path);

 private:
  bool ReadCacheActive() const { return cache_ && (cacheFlags_ & kReadCacheActive); }
  bool WriteCacheActive() const { return cache_ && (cacheFlags_ & kWriteCacheActive); }
  bool WantsCache(const std::u16string& path) const;
  void AllocateCache(unsigned line);
  void DropCache() { cacheIndex_ = cacheFill_ = 0; }

  native::FileHandle handle_ = native::kInvalidFile;
  Allocator* allocator_;
  uint8_t* cache_ = nullptr;
  uint32_t cacheFlags_;
  uint32_t cacheSize_ = kCacheSize;
  uint32_t cacheIndex_ = 0;
  uint32_t cacheFill_ = 0;
  std::u16string name_;
};

}  // namespace utils
