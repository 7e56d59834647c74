// The few operating-system services the ZIP reader needs besides its sources (files
// are read through utils/file, see source.h).
#pragma once

#include <cstdint>
#include <string>

#include "zip/sink.h"

namespace amzip {

// An MS-DOS date and time, taken as local time, converted to UTC. False when the
// fields do not form a valid time.
bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& out);

}  // namespace amzip
