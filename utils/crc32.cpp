#include "utils/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define CX_CRC32_FOLDING 1
#endif
// 256-bit folding: only where the ABI keeps the stack aligned for spilled 32-byte registers
// (mingw-w64's GCC cannot realign it for them).
#if defined(__x86_64__) && !defined(_WIN32)
#define CX_CRC32_WIDE 1
#endif

namespace utils {
namespace {

// zlib's crc32 takes a uInt length (32 bits on every platform we build for).
uint32_t ZlibCrc32(uint32_t crc, const uint8_t* data, size_t size) {
  uLong value = crc;
  while (size > 0) {
    uInt slice = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    value = crc32(value, data, slice);
    data += slice;
    size -= slice;
  }
  return static_cast<uint32_t>(value);
}

#ifdef CX_CRC32_FOLDING

// Below this the table is as quick as setting up the fold; the fold needs 64 bytes anyway.
constexpr size_t kFoldMinimum = 64;
// The 256-bit lanes start at 256 bytes: below it the 128-bit lanes do as well.
constexpr size_t kWideMinimum = 256;

bool CpuCanFold() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_PCLMUL) != 0 && (edx & bit_SSE2) != 0;
}

#ifdef CX_CRC32_WIDE
// AVX2 and VPCLMULQDQ, and an OS that saves the 256-bit registers (XCR0 bits 1 and 2).
bool CpuCanFoldWide() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!CpuCanFold() || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
  unsigned xcr0 = 0, xcr0High = 0;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  if ((xcr0 & 6) != 6) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ebx & bit_AVX2) != 0 && (ecx & (1u << 10)) != 0;  // leaf 7 ECX bit 10: VPCLMULQDQ
}
#endif

#define CX_FOLD_TARGET __attribute__((target("sse2,pclmul")))

CX_FOLD_TARGET inline __m128i Load(const uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The two halves of a times the two constants in k (a shift by that many bits, modulo P),
// added to b.
CX_FOLD_TARGET inline __m128i Fold(__m128i a, __m128i k, __m128i b) {
  __m128i lo = _mm_clmulepi64_si128(a, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(a, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), b);
}

// Folds the remaining 16-byte blocks into x1, then reduces its 128 bits to the 32-bit CRC
// register.
CX_FOLD_TARGET uint32_t FinishFold(__m128i x1, const uint8_t* p, size_t size) {
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  for (; size >= 16; p += 16, size -= 16) x1 = Fold(x1, k3k4, Load(p));

  // 128 bits to 64: the low half times x^(128-32), added to the high half.
  __m128i x2r = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2r);
  // 64 bits to 32 more: the low 32 bits times x^64.
  x2r = _mm_srli_si128(x1, 4);
  x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00);
  x1 = _mm_xor_si128(x1, x2r);
  // Barrett reduction: the remainder modulo P sits in bits 32 to 63.
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

// Folds blocks of 16 bytes into the CRC register (not inverted: the caller passes ~crc and
// inverts the result). size is a multiple of 16 and at least 64. k1k2 and k3k4 move a
// 128-bit lane forward by 512 and by 128 bits (powers of x modulo P, bit-reflected);
// FinishFold's k5 reduces 64 bits to 32, and its poly holds P and floor(x^64 / P) for the
// final Barrett reduction: the method of Gopal et al., "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction" (Intel, 2009).
//
// Only the functions marked CX_FOLD_TARGET (or CX_WIDE_TARGET, AVX2 and VPCLMULQDQ) use
// these instructions, so the rest of the program runs on processors without them. The 32-bit
// Windows ABI only keeps the stack 4-byte aligned, and spilled 16-byte registers need 16: realign
// on entry there.
CX_FOLD_TARGET
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
uint32_t
FoldBlocks(uint32_t state, const uint8_t* p, size_t size) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);

  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  size -= 64;
  // Four independent lanes keep the multiplier busy while earlier products finish.
  while (size >= 64) {
    x1 = Fold(x1, k1k2, Load(p));
    x2 = Fold(x2, k1k2, Load(p + 16));
    x3 = Fold(x3, k1k2, Load(p + 32));
    x4 = Fold(x4, k1k2, Load(p + 48));
    p += 64;
    size -= 64;
  }
  x1 = Fold(x1, k3k4, x2);
  x1 = Fold(x1, k3k4, x3);
  x1 = Fold(x1, k3k4, x4);
  return FinishFold(x1, p, size);
}

#ifdef CX_CRC32_WIDE
#define CX_WIDE_TARGET __attribute__((target("avx2,pclmul,vpclmulqdq")))

CX_WIDE_TARGET inline __m256i Load256(const uint8_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

CX_WIDE_TARGET inline __m256i Fold256(__m256i a, __m256i k, __m256i b) {
  __m256i lo = _mm256_clmulepi64_epi128(a, k, 0x00);
  __m256i hi = _mm256_clmulepi64_epi128(a, k, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(lo, hi), b);
}

// FoldBlocks with eight 128-bit lanes in four 256-bit registers, 128 bytes a step (the
// constants move a lane forward by 1024 bits); size is a multiple of 16 and at least 256.
CX_WIDE_TARGET uint32_t FoldBlocksWide(uint32_t state, const uint8_t* p, size_t size) {
  const __m256i k1024 = _mm256_set_epi64x(0x014a7fe880, 0x01e88ef372, 0x014a7fe880, 0x01e88ef372);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  __m256i y0 =
      _mm256_xor_si256(Load256(p), _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(state)));
  __m256i y1 = Load256(p + 32);
  __m256i y2 = Load256(p + 64);
  __m256i y3 = Load256(p + 96);
  p += 128;
  size -= 128;
  while (size >= 128) {
    y0 = Fold256(y0, k1024, Load256(p));
    y1 = Fold256(y1, k1024, Load256(p + 32));
    y2 = Fold256(y2, k1024, Load256(p + 64));
    y3 = Fold256(y3, k1024, Load256(p + 96));
    p += 128;
    size -= 128;
  }
  // The eight lanes in the order of their bytes, each folded into the next.
  __m128i x1 = _mm256_castsi256_si128(y0);
  x1 = Fold(x1, k3k4, _mm256_extracti128_si256(y0, 1));
  x1 = Fold(x1, k3k4, _mm256_castsi256_si128(y1));
  x1 = Fold(x1, k3k4, _mm256_extracti128_si256(y1, 1));
  x1 = Fold(x1, k3k4, _mm256_castsi256_si128(y2));
  x1 = Fold(x1, k3k4, _mm256_extracti128_si256(y2, 1));
  x1 = Fold(x1, k3k4, _mm256_castsi256_si128(y3));
  x1 = Fold(x1, k3k4, _mm256_extracti128_si256(y3, 1));
  return FinishFold(x1, p, size);
}
#endif  // CX_CRC32_WIDE

#endif  // CX_CRC32_FOLDING

uint32_t Crc32Of(uint32_t crc, const uint8_t* p, size_t size) {
#ifdef CX_CRC32_FOLDING
  if (size >= kFoldMinimum && Crc32Accelerated()) {
    size_t blocks = size & ~size_t{15};
    uint32_t (*fold)(uint32_t, const uint8_t*, size_t) = FoldBlocks;
#ifdef CX_CRC32_WIDE
    static const bool canFoldWide = CpuCanFoldWide();
    if (blocks >= kWideMinimum && canFoldWide) fold = FoldBlocksWide;
#endif
    crc = ~fold(~crc, p, blocks);
    p += blocks;
    size -= blocks;
  }
#endif
  return ZlibCrc32(crc, p, size);
}

}  // namespace

bool Crc32Accelerated() {
#ifdef CX_CRC32_FOLDING
  static const bool canFold = CpuCanFold();
  return canFold;
#else
  return false;
#endif
}

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  return Crc32Of(crc, static_cast<const uint8_t*>(data), size);
}

uint32_t Crc32Parallel(uint32_t crc, const void* data, size_t size, unsigned threads,
                       size_t minPart) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  minPart = std::max<size_t>(minPart, 1);
  // crc32_combine takes the length as z_off_t, a 32-bit long on Windows: parts stay within
  // a few bytes of 1 GiB at most (more parts than threads when the buffer needs it), well
  // under its 2 GiB limit.
  constexpr size_t kMaxPart = size_t{1} << 30;
  size_t parts = std::min<size_t>(threads, size / minPart);
  parts = std::max<size_t>(parts, (size + kMaxPart - 1) / kMaxPart);
  if (parts <= 1) return Crc32Of(crc, bytes, size);

  const size_t partSize = size / parts;  // the last part also takes the remainder
  auto partBegin = [&](size_t i) { return i * partSize; };
  auto partEnd = [&](size_t i) { return i + 1 == parts ? size : (i + 1) * partSize; };
  std::vector<uint32_t> crcs(parts);
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < parts;) {
      crcs[i] = Crc32Of(i == 0 ? crc : 0, bytes + partBegin(i), partEnd(i) - partBegin(i));
    }
  };
  size_t wanted = std::min<size_t>(threads, parts) - 1;
  std::vector<std::thread> helpers;
  helpers.reserve(wanted);
  for (size_t i = 0; i < wanted; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads already running share the parts that are left
    }
  }
  work();
  for (std::thread& t : helpers) t.join();

  uLong total = crcs[0];
  for (size_t i = 1; i < parts; ++i) {
    total = crc32_combine(total, crcs[i], static_cast<z_off_t>(partEnd(i) - partBegin(i)));
  }
  return static_cast<uint32_t>(total);
}

}  // namespace utils
