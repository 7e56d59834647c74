#include "utils/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

namespace utils {
namespace {

uint32_t Zlib(uint32_t crc, const uint8_t* data, size_t size) {
  return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Every length up to a few fold blocks, at every offset within 16 bytes (the folding path
// loads unaligned and hands the last 0-15 bytes to the table), then random lengths and
// offsets up to 1 MiB; each continues a random earlier CRC and is continued by zlib, so a
// register that is not inverted on the way in or out shows up too.
TEST(Crc32, MatchesZlibForAnySizeAndAlignment) {
  std::vector<uint8_t> bytes = RandomBytes((1 << 20) + 64, 7);
  EXPECT_EQ(Crc32(0, nullptr, 0), 0u);
  EXPECT_EQ(Crc32(0x1234, bytes.data(), 0), 0x1234u);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t size = 0; size <= 300; ++size) {
      const uint8_t* p = bytes.data() + offset;
      ASSERT_EQ(Crc32(0, p, size), Zlib(0, p, size)) << "size " << size << " offset " << offset;
    }
  }
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    size_t offset = rng() % 64;
    size_t size = rng() % (bytes.size() - offset);
    uint32_t before = static_cast<uint32_t>(rng());
    size_t cut = rng() % (size + 1);
    const uint8_t* p = bytes.data() + offset;
    uint32_t expected = Zlib(before, p, size);
    ASSERT_EQ(Crc32(before, p, size), expected) << "size " << size << " offset " << offset;
    ASSERT_EQ(Zlib(Crc32(before, p, cut), p + cut, size - cut), expected) << "cut " << cut;
  }
}

// Small parts force multi-part splits: parts joined in the wrong order, with the wrong
// lengths, a remainder dropped or the starting CRC given to the wrong part all change the
// value. More threads than parts, and one thread, must give the same.
TEST(Crc32, ParallelPartsJoinToTheWholeBuffersCrc) {
  std::vector<uint8_t> bytes = RandomBytes(300000, 11);
  std::mt19937 rng(5);
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    for (size_t minPart : {size_t{1}, size_t{999}, size_t{4096}, size_t{150000}}) {
      size_t offset = rng() % 16;
      size_t size = bytes.size() - offset - rng() % 1000;
      uint32_t before = static_cast<uint32_t>(rng());
      const uint8_t* p = bytes.data() + offset;
      ASSERT_EQ(Crc32Parallel(before, p, size, threads, minPart), Zlib(before, p, size))
          << threads << " threads, parts of " << minPart << ", size " << size;
    }
  }
  EXPECT_EQ(Crc32Parallel(0, bytes.data(), 3, 4, 1), Zlib(0, bytes.data(), 3));
  EXPECT_EQ(Crc32Parallel(0, bytes.data(), bytes.size()), Zlib(0, bytes.data(), bytes.size()));
}

}  // namespace
}  // namespace utils
