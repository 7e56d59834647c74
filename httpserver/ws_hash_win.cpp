// SHA-1 and MD5 through the CryptoAPI. A verify-only context needs no key container, so it
// works for any user, including under restricted profiles.
#include "httpserver/ws_hash.h"

#include <windows.h>
// wincrypt.h needs the types of windows.h.
#include <wincrypt.h>

#include <cstring>

namespace storage {
namespace {

// Acquires a context, hashes data with the given algorithm and copies the first
// digest.size() bytes of the value out. Every handle is released on every path.
template <size_t N>
bool HashWithCryptoApi(ALG_ID algorithm, std::string_view data, std::array<uint8_t, N>& digest) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return false;
  bool ok = false;
  HCRYPTHASH hash = 0;
  if (CryptCreateHash(provider, algorithm, 0, 0, &hash)) {
    // CryptHashData takes a DWORD length; handshake input is tiny, but feed in slices so
    // that no length is ever truncated.
    ok = true;
    const char* at = data.data();
    size_t left = data.size();
    while (ok && left != 0) {
      DWORD slice = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
      ok = CryptHashData(hash, reinterpret_cast<const BYTE*>(at), slice, 0) != FALSE;
      at += slice;
      left -= slice;
    }
    BYTE value[256] = {};
    DWORD size = sizeof(value);
    if (ok) ok = CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0) != FALSE;
    if (ok) ok = size == N;
    if (ok) std::memcpy(digest.data(), value, N);
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return ok;
}

}  // namespace

bool ComputeSha1(std::string_view data, Sha1Digest& digest) {
  return HashWithCryptoApi(CALG_SHA1, data, digest);
}

bool ComputeMd5(std::string_view data, Md5Digest& digest) {
  return HashWithCryptoApi(CALG_MD5, data, digest);
}

}  // namespace storage
