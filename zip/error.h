// amzip::AZError: the error record the archive object keeps as its last error, and the
// codes the reader records. The ZIP library never throws.
#pragma once

#include <cstdint>
#include <string>

namespace amzip {

enum ErrorCode : int32_t {
  FDIERROR_UNKNOWN = -1,
  FDIERROR_NONE = 0,
  AZERROR_NOT_FOUND = 1,
  AZERR_INVALIDSTATE = 2,
  AZERR_INVALIDARG = 3,
  ERROR_CREATE_FILE = 4,
  ERROR_OPEN_FILE = 5,
  ERROR_READ_FILE = 6,
  ERROR_WRITE_FILE = 7,
  ERROR_SEEK_FILE = 8,
  ERROR_SYSTEM = 9,
  ERROR_FLATE = 10,
  AZERROR_ZIP64_NEEDED = 11,
  AZERROR_UTF8_NEEDED = 12,
  AZERROR_FILENAME_TOO_LONG = 13,
  AZERROR_CENTRALDIR = 14,
  AZERROR_CANT_FIND_CENTRALDIR = 15,
  FDIERROR_BAD_COMPR_TYPE = 16,
  AZERROR_BAD_SIGNATURE = 17,  // named "FDIERROR_UNKNOWN" in texts
  AZERROR_FILE_EXISTS = 18,
  AZERROR_RESERVED_19 = 19,  // named "FDIERROR_UNKNOWN" in texts
  AZERROR_GETSTREAMINFO = 20,
  AZERROR_MISSING_PART = 21,
  AZERROR_ENCRYPTED = 22,        // flag bit 0 set, or method 99 (AES)
  AZERROR_HEADER_MISMATCH = 23,  // local header missing, or disagreeing with the directory
  AZERROR_CRC = 24,              // the data's CRC-32 is not the recorded one
  AZERROR_CHANGED = 25,          // the archive's file was written or cut since it was opened
};

struct AZError {
  int32_t code = 0;
  uint32_t systemError = 0;  // the OS's last error at the time; zlib's result for code 10
  std::u16string file;       // archive, volume, entry or sink name concerned
};

// The code's name ("AZERROR_NOT_FOUND"); codes outside the table give "FDIERROR_UNKNOWN".
const char* ErrorName(int32_t code);

// The operating system's last error value (GetLastError / errno).
uint32_t LastSystemError();

}  // namespace amzip
