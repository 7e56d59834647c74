#include <windows.h>

#include <string>

#include "utils/file/mapped_file.h"

namespace utils {
namespace {

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

}  // namespace

std::u16string ProgramFilePath() {
  // The classic MAX_PATH-sized buffer truncates long paths silently (the result equals
  // the buffer size); grow until the whole path fits.
  std::u16string path(512, u'\0');
  for (;;) {
    DWORD n =
        GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), DWORD(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

bool IsExistingFile(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MappedFile::OpenSelf() { return Open(ProgramFilePath()); }

bool MappedFile::Open(const std::u16string& path) {
  if (IsOpen() || path.empty()) return false;
  // No security attributes: the handle is not inheritable, so a browser or any other
  // process started later does not keep the program file open.
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_READONLY | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    GetLastError();  // fetched and dropped: the caller only learns that it failed
    return false;
  }
  file_ = file;
  return FinishOpen();
}

bool MappedFile::FinishOpen() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(AsHandle(file_), &size)) return false;
  size_ = uint64_t(size.QuadPart);
  return true;
}

bool MappedFile::IsOpen() const { return file_ != nullptr; }

bool MappedFile::Stamp(FileStamp& out) const {
  // The file is opened without FILE_SHARE_WRITE, so no one can change it while it is
  // open; the stamp is asked all the same, for the same answer on every system.
  LARGE_INTEGER size;
  FILETIME written;
  if (!IsOpen() || !GetFileSizeEx(AsHandle(file_), &size) ||
      !GetFileTime(AsHandle(file_), nullptr, nullptr, &written)) {
    return false;
  }
  out.size = uint64_t(size.QuadPart);
  out.modified = int64_t(uint64_t(written.dwHighDateTime) << 32 | written.dwLowDateTime);
  return true;
}

bool MappedFile::ReadAt(uint64_t offset, void* buffer, size_t len) const {
  if (!IsOpen()) return false;
  auto* out = static_cast<char*>(buffer);
  while (len > 0) {
    // A positioned read (offset in OVERLAPPED on a synchronous handle) rather than
    // SetFilePointer + ReadFile: same bytes, no shared file position.
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD chunk = len > 0x10000000 ? 0x10000000 : DWORD(len);
    DWORD got = 0;
    if (!ReadFile(AsHandle(file_), out, chunk, &got, &at) || got == 0) return false;
    out += got;
    offset += got;
    len -= got;
  }
  return true;
}

const uint8_t* MappedFile::Map(uint64_t offset) {
  if (!IsOpen() || view_ || offset >= size_ || offset % Granularity() != 0) return nullptr;
  if (!mapping_) {
    // Covers the whole file; unnamed and not inheritable.
    mapping_ = CreateFileMappingW(AsHandle(file_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping_) return nullptr;
  }
  // MapViewOfFile needs an offset aligned to the allocation granularity (64 KiB), not
  // merely to the page size.
  void* view =
      MapViewOfFile(AsHandle(mapping_), FILE_MAP_READ, DWORD(offset >> 32), DWORD(offset), 0);
  if (!view) return nullptr;
  view_ = static_cast<const uint8_t*>(view);
  viewLength_ = size_ - offset;
  return view_;
}

uint64_t MappedFile::Granularity() {
  // The native value: a 32-bit program under WOW64 sees the same granularity either way,
  // and the native call is the documented one for it.
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536;
}

bool MappedFile::Close() {
  bool ok = true;
  if (view_) {
    ok = UnmapViewOfFile(view_) != 0 && ok;
    view_ = nullptr;
    viewLength_ = 0;
  }
  if (mapping_) {
    ok = CloseHandle(AsHandle(mapping_)) != 0 && ok;
    mapping_ = nullptr;
  }
  if (file_) {
    ok = CloseHandle(AsHandle(file_)) != 0 && ok;
    file_ = nullptr;
  }
  size_ = 0;
  return ok;
}

}  // namespace utils
