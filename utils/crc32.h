// CRC-32 as ZIP and zlib define it (reflected polynomial 0xEDB88320, register preset to
// all ones and inverted at the end). Every function here returns exactly what zlib's
// crc32(crc, data, size) returns for the same arguments, so a value from here can be
// continued with zlib's crc32 or joined with its crc32_combine, and the other way round.
//
// Speed: on x86-64 and i686 processors with carry-less multiplication (PCLMULQDQ, checked
// once at run time with cpuid) the bytes are folded 64 at a time, several times zlib's
// table speed, and on x86-64 outside Windows 128 at a time where the processor and the OS
// also offer the 256-bit form (AVX2 and VPCLMULQDQ); elsewhere zlib's crc32 does the work.
// Crc32Parallel also spreads a large buffer over the cores.
//
// Thread-safety: all functions may be called from any thread at the same time; the only
// shared state is the CPU check, made once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace utils {

// CRC of size bytes at data, continuing crc (0 starts a new one). data may be null when
// size is 0. Runs on the calling thread.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

// Smallest part Crc32Parallel gives a thread of its own: below it, starting a thread
// costs more than it saves.
inline constexpr size_t kCrc32MinPart = size_t{4} << 20;

// The same value as Crc32, computed in parts of at least minPart bytes on up to threads
// threads (0: one per core, as std::thread reports them; the calling thread is one of
// them) and joined with zlib's crc32_combine. A buffer smaller than two parts stays on
// the calling thread. When a thread cannot be started, the threads that run (at least
// the calling one) compute its parts, so the result never depends on it.
uint32_t Crc32Parallel(uint32_t crc, const void* data, size_t size, unsigned threads = 0,
                       size_t minPart = kCrc32MinPart);

// True when Crc32 folds with carry-less multiplication on this processor.
bool Crc32Accelerated();

}  // namespace utils
