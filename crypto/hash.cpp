// SHA-256 and SHA-512.
#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {
namespace detail {

const EVP_MD* md(HashAlg alg) {
  return alg == HashAlg::kSha256 ? algorithms().sha256 : algorithms().sha512;
}

}  // namespace detail

size_t hash_size(HashAlg alg) { return alg == HashAlg::kSha256 ? 32 : 64; }

Bytes hash(HashAlg alg, ByteView data) {
  Bytes out(hash_size(alg));
  unsigned int n = 0;
  detail::check(EVP_Digest(data.data(), data.size(), out.data(), &n, detail::md(alg), nullptr));
  return out;
}

}  // namespace zerv::crypto
