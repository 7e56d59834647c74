// utils::MappedFile: a file (the program's own, or an archive named on the command line)
// opened read-only, read at any offset, with at most one read-only view of it mapped.
//
// Owns the open file, the mapping and the view, and releases them in Close (or the
// destructor). None of them is inherited by child processes: on Windows the handles are
// created without inheritable security attributes, on POSIX with O_CLOEXEC. Used from
// one thread at a time (the start-up on the main thread). Failures are reported by
// result; the operating system's error is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace utils {

// Path of the running program's file; empty when the system cannot tell.
std::u16string ProgramFilePath();

// True when path names an existing file that is not a directory.
bool IsExistingFile(const std::u16string& path);

// A file's size and last-write time as the system reports them at one moment. Two stamps
// of one open file differ when it was written to or cut in between (within the file
// system's time resolution: a write that changes neither size nor time is not seen).
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;  // system-specific units (nanoseconds on POSIX, FILETIME ticks)
  bool operator==(const FileStamp& o) const { return size == o.size && modified == o.modified; }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { Close(); }

  // The running program's own file. On Linux this opens /proc/self/exe, which stays the
  // right file even when the program was renamed or replaced on disk since it started.
  bool OpenSelf();
  // Any file, by path.
  bool Open(const std::u16string& path);

  bool IsOpen() const;
  uint64_t GetSize() const { return size_; }
  // The open file: a descriptor on POSIX, a HANDLE on Windows (for calls that send a
  // file's bytes straight to a socket); valid until Close.
  uintptr_t NativeHandle() const;

  // The open file's stamp now; false when the system cannot tell.
  bool Stamp(FileStamp& out) const;

  // Reads exactly len bytes at offset; does not move any shared file position.
  bool ReadAt(uint64_t offset, void* buffer, size_t len) const;

  // Maps the file read-only from offset to its end; offset must be a multiple of
  // Granularity(). Returns the view's base (valid until Close), or null. At most one view.
  const uint8_t* Map(uint64_t offset);

  // The alignment a view's file offset needs: the allocation granularity on Windows
  // (MapViewOfFile), the page size on POSIX (mmap).
  static uint64_t Granularity();

  // Unmaps the view, then closes the mapping, then the file; true when every release
  // that was needed succeeded. Safe to call again.
  bool Close();

 private:
  bool FinishOpen();

#ifdef _WIN32
  void* file_ = nullptr;     // HANDLE, null when none (INVALID_HANDLE_VALUE is never kept)
  void* mapping_ = nullptr;  // HANDLE of the file mapping
#else
  int file_ = -1;
#endif
  const uint8_t* view_ = nullptr;
  uint64_t viewLength_ = 0;
  uint64_t size_ = 0;
};

#ifdef _WIN32
inline uintptr_t MappedFile::NativeHandle() const { return reinterpret_cast<uintptr_t>(file_); }
#else
inline uintptr_t MappedFile::NativeHandle() const { return static_cast<uintptr_t>(file_); }
#endif

}  // namespace utils
