#include <windows.h>

#include "zip/error.h"
#include "zip/platform.h"

namespace amzip {

uint32_t LastSystemError() { return ::GetLastError(); }

bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& out) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) return false;
  if (!LocalFileTimeToFileTime(&local, &utc)) return false;
  out.dwLowDateTime = utc.dwLowDateTime;
  out.dwHighDateTime = utc.dwHighDateTime;
  return true;
}

}  // namespace amzip
