// The operating-system calls under utils::File, one function per Win32 file call it uses.
//
// Windows implements them with the Win32 functions themselves (file_win.cpp); POSIX with
// file descriptors (file_posix.cpp), giving the same results: positions, sizes, end-of-file
// reads of 0 bytes, and INVALID_SET_FILE_POINTER for a failed 32-bit seek. The handle is
// the HANDLE value on Windows and the descriptor on POSIX; -1 is the closed value on both
// (INVALID_HANDLE_VALUE is (HANDLE)-1).
#pragma once

#include <cstdint>
#include <string>

namespace utils::native {

using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;
inline constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;

// An existing file: reading (shared for reading, sequential scan) or reading and writing.
FileHandle OpenExisting(const std::u16string& path, bool write);
// A new file, or an existing one truncated to 0 bytes, for reading and writing.
FileHandle CreateAlways(const std::u16string& path);
bool CloseFile(FileHandle file);

// ReadFile: up to count bytes; fewer only at the end of the file. True with 0 bytes at
// the end of the file.
bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t& got);
bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t& written);

// SetFilePointer without a high part: the low 32 bits of the new position, or
// kInvalidSetFilePointer when the move fails or the position would not fit 32 bits (the
// position is then unchanged).
uint32_t SetFilePointer32(FileHandle file, int32_t offset, int origin);
// SetFilePointer with a high part: false when the move fails.
bool SetFilePointer64(FileHandle file, int64_t offset, int origin, uint64_t& position);

bool GetFileSize(FileHandle file, uint64_t& size);
// FlushFileBuffers. A handle opened for reading only has nothing to flush and fails, as
// on Windows (which answers access denied).
bool FlushFileBuffers(FileHandle file);
// SetEndOfFile: the file ends at the current position.
bool SetEndOfFile(FileHandle file);
// LockFile/UnlockFile over a byte range. POSIX uses open-file-description locks where
// the system has them, so that, as on Windows, two handles of one process conflict.
bool LockFile(FileHandle file, uint64_t offset, uint64_t length);
bool UnlockFile(FileHandle file, uint64_t offset, uint64_t length);
// SetFileTime: FILETIME values (100 ns units since 1601-01-01 UTC); null leaves a time
// as it is. POSIX has no settable creation time and ignores it.
bool SetFileTime(FileHandle file, const uint64_t* creation, const uint64_t* lastAccess,
                 const uint64_t* lastWrite);

// Test seam: ReadFile calls made so far by this process (successful or not).
uint64_t ReadCallCount();

}  // namespace utils::native
