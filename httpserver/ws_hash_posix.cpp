// SHA-1 (FIPS 180-4) and MD5 (RFC 1321), written out so that POSIX builds need no crypto
// library. Both are used only on handshake keys of a few dozen bytes, so clarity wins
// over speed: one block at a time, no unrolling.
#include "httpserver/ws_hash.h"

#include <cstring>

namespace storage {
namespace {

inline uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

// Both algorithms pad the same way: a 0x80 byte, zeros up to 56 mod 64, then the bit
// length in eight bytes (big-endian for SHA-1, little-endian for MD5). The tail holds the
// last partial block plus padding: one or two blocks.
template <typename Compress>
void ForEachPaddedBlock(std::string_view data, bool bigEndianLength, Compress compress) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  size_t whole = data.size() / 64 * 64;
  for (size_t offset = 0; offset < whole; offset += 64) compress(bytes + offset);

  uint8_t tail[128] = {};
  size_t rest = data.size() - whole;
  if (rest != 0) std::memcpy(tail, bytes + whole, rest);
  tail[rest] = 0x80;
  size_t tailSize = rest < 56 ? 64 : 128;
  uint64_t bitLength = static_cast<uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) {
    uint8_t byte = static_cast<uint8_t>(bitLength >> (8 * i));
    if (bigEndianLength)
      tail[tailSize - 1 - i] = byte;
    else
      tail[tailSize - 8 + i] = byte;
  }
  for (size_t offset = 0; offset < tailSize; offset += 64) compress(tail + offset);
}

}  // namespace

bool ComputeSha1(std::string_view data, Sha1Digest& digest) {
  uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  ForEachPaddedBlock(data, true, [&h](const uint8_t* block) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
      w[t] = uint32_t{block[4 * t]} << 24 | uint32_t{block[4 * t + 1]} << 16 |
             uint32_t{block[4 * t + 2]} << 8 | uint32_t{block[4 * t + 3]};
    }
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999u;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1u;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDCu;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6u;
      }
      uint32_t temp = RotateLeft(a, 5) + f + e + k + w[t];
      e = d;
      d = c;
      c = RotateLeft(b, 30);
      b = a;
      a = temp;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  });
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return true;
}

bool ComputeMd5(std::string_view data, Md5Digest& digest) {
  // Per-round shift amounts and the constants floor(abs(sin(i + 1)) * 2^32).
  static constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                     5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                     4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                     6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  static constexpr uint32_t kSine[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  uint32_t h[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  ForEachPaddedBlock(data, false, [&h](const uint8_t* block) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
      m[i] = uint32_t{block[4 * i]} | uint32_t{block[4 * i + 1]} << 8 |
             uint32_t{block[4 * i + 2]} << 16 | uint32_t{block[4 * i + 3]} << 24;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      uint32_t next = b + RotateLeft(a + f + kSine[i] + m[g], kShift[i]);
      a = d;
      d = c;
      c = b;
      b = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  });
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(h[i / 4] >> (8 * (i % 4)));
  return true;
}

}  // namespace storage
