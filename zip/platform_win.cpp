#include <share.h>
#include <windows.h>

#include <cstdio>

#include "zip/error.h"
#include "zip/platform.h"
#include "zip/source.h"

namespace amzip {

uint32_t LastSystemError() { return ::GetLastError(); }

bool IsExistingFile(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& out) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) return false;
  if (!LocalFileTimeToFileTime(&local, &utc)) return false;
  out.dwLowDateTime = utc.dwLowDateTime;
  out.dwHighDateTime = utc.dwHighDateTime;
  return true;
}

FileReader::FileReader(const std::u16string& path) {
  // Shared open: other processes may read and write the file while it is open here.
  file_ = _wfsopen(reinterpret_cast<const wchar_t*>(path.c_str()), L"rb", _SH_DENYNO);
}

bool FileReader::Seek(int32_t offset, int origin) {
  if (!file_) return false;
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return false;
  return _fseeki64(file_, static_cast<__int64>(offset), kWhence[origin]) == 0;
}

uint64_t FileReader::Tell() {
  if (!file_) return ~0ull;
  return static_cast<uint64_t>(_ftelli64(file_));
}

}  // namespace amzip
