// Random bytes from OpenSSL's DRBGs, which are seeded from the system entropy source.
#include <openssl/rand.h>

#include <algorithm>
#include <climits>

#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {
namespace {

// RAND_bytes takes an int length, so large requests are filled in chunks.
template <class Fill>
void fill(uint8_t* p, size_t n, Fill f) {
  while (n > 0) {
    const int chunk = static_cast<int>(std::min<size_t>(n, INT_MAX));
    detail::check(f(p, chunk));
    p += chunk;
    n -= static_cast<size_t>(chunk);
  }
}

}  // namespace

Bytes random_bytes(size_t n) {
  Bytes out(n);
  fill(out.data(), n, RAND_bytes);
  return out;
}

// Secrets come from the private DRBG, kept apart from the one that serves public values.
SecretBytes random_secret(size_t n) {
  SecretBytes out(n);
  fill(out.data(), n, RAND_priv_bytes);
  return out;
}

}  // namespace zerv::crypto
