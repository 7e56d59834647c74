// Message digests for the WebSocket handshakes: SHA-1 (Sec-WebSocket-Accept) and MD5
// (the key1/key2 challenge of the older protocol revision).
//
// Windows computes them with the CryptoAPI (a verify-only context of the default
// PROV_RSA_FULL provider); POSIX builds use the small implementation beside this header,
// so the runner needs no crypto library. Both are pure functions, callable from any
// thread. A false result means the platform could not compute the digest (a CryptoAPI
// step failed); the handshake is then refused.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace storage {

using Sha1Digest = std::array<uint8_t, 20>;
using Md5Digest = std::array<uint8_t, 16>;

bool ComputeSha1(std::string_view data, Sha1Digest& digest);
bool ComputeMd5(std::string_view data, Md5Digest& digest);

}  // namespace storage
