// Hashes and HMAC.
#include <openssl/core_names.h>
#include <openssl/params.h>

#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {
namespace detail {

const EVP_MD* md(HashAlg alg) {
  return alg == HashAlg::kSha256 ? algorithms().sha256 : algorithms().sha512;
}

MacCtx hmac_start(HashAlg alg, ByteView key) {
  MacCtx ctx(check(EVP_MAC_CTX_new(algorithms().hmac)));
  char* name = const_cast<char*>(alg == HashAlg::kSha256 ? "SHA256" : "SHA512");
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, name, 0),
      OSSL_PARAM_construct_end(),
  };
  // An empty key is legal for HMAC (and used by HKDF with an empty salt); OpenSSL wants a
  // non-null pointer for it.
  static const uint8_t kEmpty = 0;
  check(EVP_MAC_init(ctx.get(), key.empty() ? &kEmpty : key.data(), key.size(), params));
  return ctx;
}

}  // namespace detail

size_t hash_size(HashAlg alg) { return alg == HashAlg::kSha256 ? 32 : 64; }

Bytes hash(HashAlg alg, ByteView data) {
  Bytes out(hash_size(alg));
  unsigned int n = 0;
  detail::check(EVP_Digest(data.data(), data.size(), out.data(), &n, detail::md(alg), nullptr));
  return out;
}

Bytes hmac(HashAlg alg, ByteView key, ByteView data) {
  detail::MacCtx ctx = detail::hmac_start(alg, key);
  detail::check(EVP_MAC_update(ctx.get(), data.data(), data.size()));
  Bytes out(hash_size(alg));
  size_t n = 0;
  detail::check(EVP_MAC_final(ctx.get(), out.data(), &n, out.size()));
  return out;
}

}  // namespace zerv::crypto
