// The Win32 file calls behind utils::File.
#include <windows.h>

#include <atomic>

#include "utils/file/file_os.h"

namespace utils::native {
namespace {

std::atomic<uint64_t> g_readCalls{0};

HANDLE H(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle F(HANDLE h) { return reinterpret_cast<FileHandle>(h); }
const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

FILETIME ToFileTime(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

}  // namespace

FileHandle OpenExisting(const std::u16string& path, bool write) {
  DWORD access = write ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  DWORD flags =
      write ? FILE_ATTRIBUTE_ARCHIVE
            : (FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  return F(CreateFileW(W(path), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
}

FileHandle CreateAlways(const std::u16string& path) {
  return F(CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE, nullptr));
}

bool CloseFile(FileHandle file) { return CloseHandle(H(file)) != FALSE; }

bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t& got) {
  ++g_readCalls;
  DWORD n = 0;
  BOOL ok = ::ReadFile(H(file), buffer, count, &n, nullptr);
  got = n;
  return ok != FALSE;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t& written) {
  DWORD n = 0;
  BOOL ok = ::WriteFile(H(file), buffer, count, &n, nullptr);
  written = n;
  return ok != FALSE;
}

uint32_t SetFilePointer32(FileHandle file, int32_t offset, int origin) {
  return ::SetFilePointer(H(file), offset, nullptr, static_cast<DWORD>(origin));
}

bool SetFilePointer64(FileHandle file, int64_t offset, int origin, uint64_t& position) {
  LARGE_INTEGER li;
  li.QuadPart = offset;
  // A low part of INVALID_SET_FILE_POINTER is also a valid position; only the last error
  // tells them apart, so clear it first.
  SetLastError(NO_ERROR);
  li.LowPart = ::SetFilePointer(H(file), static_cast<LONG>(li.LowPart), &li.HighPart,
                                static_cast<DWORD>(origin));
  if (li.LowPart == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  position = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool GetFileSize(FileHandle file, uint64_t& size) {
  LARGE_INTEGER li;
  if (!GetFileSizeEx(H(file), &li)) return false;
  size = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool FlushFileBuffers(FileHandle file) { return ::FlushFileBuffers(H(file)) != FALSE; }

bool SetEndOfFile(FileHandle file) { return ::SetEndOfFile(H(file)) != FALSE; }

bool LockFile(FileHandle file, uint64_t offset, uint64_t length) {
  return ::LockFile(H(file), static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32),
                    static_cast<DWORD>(length), static_cast<DWORD>(length >> 32)) != FALSE;
}

bool UnlockFile(FileHandle file, uint64_t offset, uint64_t length) {
  return ::UnlockFile(H(file), static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32),
                      static_cast<DWORD>(length), static_cast<DWORD>(length >> 32)) != FALSE;
}

bool SetFileTime(FileHandle file, const uint64_t* creation, const uint64_t* lastAccess,
                 const uint64_t* lastWrite) {
  FILETIME c, a, w;
  if (creation) c = ToFileTime(*creation);
  if (lastAccess) a = ToFileTime(*lastAccess);
  if (lastWrite) w = ToFileTime(*lastWrite);
  return ::SetFileTime(H(file), creation ? &c : nullptr, lastAccess ? &a : nullptr,
                       lastWrite ? &w : nullptr) != FALSE;
}

uint64_t ReadCallCount() { return g_readCalls.load(); }

}  // namespace utils::native
