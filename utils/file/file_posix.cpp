// POSIX file descriptors behind utils::File, matching the Win32 results the class expects.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>

#include "utils/encoding.h"
#include "utils/file/file_os.h"

namespace utils::native {
namespace {

std::atomic<uint64_t> g_readCalls{0};

int Fd(FileHandle file) { return static_cast<int>(file); }

int Whence(int origin) {
  switch (origin) {
    case 0:
      return SEEK_SET;
    case 1:
      return SEEK_CUR;
    case 2:
      return SEEK_END;
    default:
      return -1;
  }
}

bool IsWritable(FileHandle file) {
  int flags = fcntl(Fd(file), F_GETFL);
  return flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
}

FileHandle OpenPath(const std::u16string& path, int flags) {
  std::string bytes = WideToUtf8(path);
  if (bytes.empty() || bytes.find('\0') != std::string::npos) return kInvalidFile;
  int fd;
  do {
    fd = ::open(bytes.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) return kInvalidFile;
  // Windows opens no directories with these calls; neither do we.
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kInvalidFile;
  }
  return fd;
}

bool ApplyLock(FileHandle file, uint64_t offset, uint64_t length, short type) {
  // Windows accepts an empty range; POSIX would read length 0 as "to the end and beyond".
  if (length == 0) return true;
  if (offset > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX))
    return false;
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = static_cast<off_t>(length);
#ifdef F_OFD_SETLK
  return fcntl(Fd(file), F_OFD_SETLK, &lock) == 0;
#else
  return fcntl(Fd(file), F_SETLK, &lock) == 0;
#endif
}

struct timespec ToTimespec(const uint64_t* fileTime) {
  struct timespec ts = {};
  if (!fileTime) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  // FILETIME counts 100 ns from 1601-01-01; the Unix epoch is 11644473600 s later.
  constexpr int64_t kEpochShift = 116444736000000000LL;
  int64_t ticks = static_cast<int64_t>(*fileTime) - kEpochShift;
  int64_t seconds = ticks / 10000000;
  int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

}  // namespace

FileHandle OpenExisting(const std::u16string& path, bool write) {
  return OpenPath(path, write ? O_RDWR : O_RDONLY);
}

FileHandle CreateAlways(const std::u16string& path) {
  return OpenPath(path, O_RDWR | O_CREAT | O_TRUNC);
}

bool CloseFile(FileHandle file) { return ::close(Fd(file)) == 0; }

bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t& got) {
  ++g_readCalls;
  got = 0;
  // read() may stop short of count before the end; ReadFile on a file does not.
  while (got < count) {
    ssize_t n = ::read(Fd(file), static_cast<char*>(buffer) + got, count - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<uint32_t>(n);
  }
  return true;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t& written) {
  written = 0;
  while (written < count) {
    ssize_t n = ::write(Fd(file), static_cast<const char*>(buffer) + written, count - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    written += static_cast<uint32_t>(n);
  }
  return true;
}

uint32_t SetFilePointer32(FileHandle file, int32_t offset, int origin) {
  int whence = Whence(origin);
  if (whence < 0) return kInvalidSetFilePointer;
  off_t old = lseek(Fd(file), 0, SEEK_CUR);
  if (old < 0) return kInvalidSetFilePointer;
  off_t pos = lseek(Fd(file), offset, whence);
  if (pos < 0) return kInvalidSetFilePointer;
  if (static_cast<uint64_t>(pos) > 0xFFFFFFFFull) {
    lseek(Fd(file), old, SEEK_SET);
    return kInvalidSetFilePointer;
  }
  return static_cast<uint32_t>(pos);
}

bool SetFilePointer64(FileHandle file, int64_t offset, int origin, uint64_t& position) {
  int whence = Whence(origin);
  if (whence < 0) return false;
  off_t pos = lseek(Fd(file), static_cast<off_t>(offset), whence);
  if (pos < 0) return false;
  position = static_cast<uint64_t>(pos);
  return true;
}

bool GetFileSize(FileHandle file, uint64_t& size) {
  struct stat st;
  if (fstat(Fd(file), &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FlushFileBuffers(FileHandle file) {
  if (!IsWritable(file)) return false;
  return fsync(Fd(file)) == 0;
}

bool SetEndOfFile(FileHandle file) {
  off_t pos = lseek(Fd(file), 0, SEEK_CUR);
  if (pos < 0) return false;
  return ftruncate(Fd(file), pos) == 0;
}

bool LockFile(FileHandle file, uint64_t offset, uint64_t length) {
  return ApplyLock(file, offset, length, IsWritable(file) ? F_WRLCK : F_RDLCK);
}

bool UnlockFile(FileHandle file, uint64_t offset, uint64_t length) {
  return ApplyLock(file, offset, length, F_UNLCK);
}

bool SetFileTime(FileHandle file, const uint64_t* creation, const uint64_t* lastAccess,
                 const uint64_t* lastWrite) {
  struct timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
  return futimens(Fd(file), times) == 0;
}

uint64_t ReadCallCount() { return g_readCalls.load(); }

}  // namespace utils::native
