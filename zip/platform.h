// The few operating-system services the ZIP reader needs besides its sources.
#pragma once

#include <cstdint>
#include <string>

#include "zip/sink.h"

namespace amzip {

// True when path names an existing file that is not a directory.
bool IsExistingFile(const std::u16string& path);

// An MS-DOS date and time, taken as local time, converted to UTC. False when the
// fields do not form a valid time.
bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& out);

}  // namespace amzip
