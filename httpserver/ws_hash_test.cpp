#include "httpserver/ws_hash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace storage {
namespace {

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& digest) {
  std::string out;
  char pair[3];
  for (uint8_t byte : digest) {
    std::snprintf(pair, sizeof(pair), "%02x", byte);
    out += pair;
  }
  return out;
}

std::string Sha1Hex(std::string_view data) {
  Sha1Digest digest{};
  EXPECT_TRUE(ComputeSha1(data, digest));
  return Hex(digest);
}

std::string Md5Hex(std::string_view data) {
  Md5Digest digest{};
  EXPECT_TRUE(ComputeMd5(data, digest));
  return Hex(digest);
}

// Published vectors: FIPS 180 (SHA-1) and RFC 1321, appendix A.5 (MD5).
TEST(WsHash, PublishedVectors) {
  EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Sha1Hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                   "1234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths around the padding boundaries (one or two tail blocks), with bytes that are
// not text and include zeros. Expected values come from Python's hashlib.
TEST(WsHash, PaddingBoundariesAndBinaryInput) {
  struct Case {
    size_t length;
    const char* sha1;
    const char* md5;
  };
  const Case cases[] = {
      {55, "ddf57317ef34bfee3b6df83d359098930eb278bc", "52c0e574e1198de5fe3f8f11440dcb1b"},
      {56, "a0d492bb0fc889d0eca3bc137066ab6f4f74f369", "46c9907fc908ee68b1e7b8e71286a518"},
      {63, "c55856749bef509bdfe6bfebfc7bf4e793e82132", "a62f6d59e837867693f042f5b8f5a236"},
      {64, "bede92be29c3874e1b54ddc77988d606fc857a8e", "7160b8fb5e9e4023d549c3971fbaeead"},
      {65, "b05a80522b053d6dc7e0a517d0e70212c7dad11f", "70bd662e7aefbda85a0f7244167b7897"},
      {119, "504e27376a6e0f0dba8295b85cb25dc4dfa17d23", "e84905d4214f4d1ca56c2cdcc152b143"},
      {120, "82134b02fb3f702491be9bed581eeab59334acb2", "e3eb5a6c8669ea01a8c185b8abc8a5dc"},
  };
  for (const Case& c : cases) {
    std::string data;
    for (size_t i = 0; i < c.length; ++i) data += static_cast<char>((i * 7 + 3) & 0xff);
    EXPECT_EQ(Sha1Hex(data), c.sha1) << "length " << c.length;
    EXPECT_EQ(Md5Hex(data), c.md5) << "length " << c.length;
  }
}

}  // namespace
}  // namespace storage
