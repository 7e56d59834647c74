#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "utils/file/mapped_file.h"

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#elif defined(__FreeBSD__)
#include <sys/sysctl.h>
#endif

namespace utils {
namespace {

std::string NativePath(const std::u16string& path) { return std::filesystem::path(path).string(); }

std::u16string WidePath(const std::string& path) { return std::filesystem::path(path).u16string(); }

}  // namespace

std::u16string ProgramFilePath() {
#if defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string path(size, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) return {};
  path.resize(path.find('\0') == std::string::npos ? path.size() : path.find('\0'));
  return WidePath(path);
#elif defined(__FreeBSD__)
  int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
  char buffer[4096];
  size_t size = sizeof buffer;
  if (sysctl(mib, 4, buffer, &size, nullptr, 0) != 0) return {};
  return WidePath(buffer);
#else
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (size_t(n) < buffer.size()) return WidePath(std::string(buffer.data(), size_t(n)));
    buffer.resize(buffer.size() * 2);
  }
#endif
}

bool IsExistingFile(const std::u16string& path) {
  struct stat st;
  std::string native = NativePath(path);
  return !native.empty() && stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool MappedFile::OpenSelf() {
#if defined(__linux__)
  if (IsOpen()) return false;
  file_ = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  return FinishOpen();
#else
  return Open(ProgramFilePath());
#endif
}

bool MappedFile::Open(const std::u16string& path) {
  if (IsOpen() || path.empty()) return false;
  file_ = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  return FinishOpen();
}

bool MappedFile::FinishOpen() {
  if (file_ < 0) return false;
  struct stat st;
  if (fstat(file_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size_ = uint64_t(st.st_size);
#if defined(POSIX_FADV_SEQUENTIAL)
  posix_fadvise(file_, 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint only; failure is harmless
#endif
  return true;
}

bool MappedFile::IsOpen() const { return file_ >= 0; }

bool MappedFile::Stamp(FileStamp& out) const {
  struct stat st;
  if (!IsOpen() || fstat(file_, &st) != 0) return false;
  out.size = uint64_t(st.st_size);
#if defined(__APPLE__)
  out.modified = int64_t(st.st_mtimespec.tv_sec) * 1000000000 + st.st_mtimespec.tv_nsec;
#else
  out.modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
  return true;
}

bool MappedFile::ReadAt(uint64_t offset, void* buffer, size_t len) const {
  if (!IsOpen()) return false;
  auto* out = static_cast<char*>(buffer);
  while (len > 0) {
    ssize_t n = pread(file_, out, len, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    offset += uint64_t(n);
    len -= size_t(n);
  }
  return true;
}

const uint8_t* MappedFile::Map(uint64_t offset) {
  if (!IsOpen() || view_ || offset >= size_ || offset % Granularity() != 0) return nullptr;
  uint64_t length = size_ - offset;
  void* view = mmap(nullptr, size_t(length), PROT_READ, MAP_PRIVATE, file_, off_t(offset));
  if (view == MAP_FAILED) return nullptr;
  view_ = static_cast<const uint8_t*>(view);
  viewLength_ = length;
  return view_;
}

uint64_t MappedFile::Granularity() {
  long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? uint64_t(page) : 4096;
}

bool MappedFile::Close() {
  bool ok = true;
  if (view_) {
    ok = munmap(const_cast<uint8_t*>(view_), size_t(viewLength_)) == 0 && ok;
    view_ = nullptr;
    viewLength_ = 0;
  }
  if (file_ >= 0) {
    ok = close(file_) == 0 && ok;
    file_ = -1;
  }
  size_ = 0;
  return ok;
}

}  // namespace utils
