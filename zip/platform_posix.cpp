#include <cerrno>
#include <ctime>

#include "zip/error.h"
#include "zip/platform.h"

namespace amzip {

namespace {
// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDelta = 11644473600LL;
}  // namespace

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& out) {
  struct tm local = {};
  local.tm_year = 80 + (dosDate >> 9);
  local.tm_mon = ((dosDate >> 5) & 15) - 1;
  local.tm_mday = dosDate & 31;
  local.tm_hour = dosTime >> 11;
  local.tm_min = (dosTime >> 5) & 63;
  local.tm_sec = (dosTime & 31) * 2;
  local.tm_isdst = -1;
  // The same limits DosDateTimeToFileTime applies.
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday == 0 || local.tm_hour > 23 ||
      local.tm_min > 59 || local.tm_sec > 59) {
    return false;
  }
  time_t t = mktime(&local);
  if (t == static_cast<time_t>(-1)) return false;
  uint64_t ticks = static_cast<uint64_t>(static_cast<int64_t>(t) + kEpochDelta) * 10000000ull;
  out.dwLowDateTime = static_cast<uint32_t>(ticks);
  out.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
  return true;
}

}  // namespace amzip
