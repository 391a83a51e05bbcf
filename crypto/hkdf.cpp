// HKDF (RFC 5869) on HMAC directly: expand runs on the hot paths of the key schedule and the
// secret tree, and keying one HMAC context per call is cheaper than a generic KDF object.
#include <algorithm>

#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {

size_t hkdf_max_length(HashAlg alg) { return 255 * hash_size(alg); }

SecretBytes hkdf_extract(HashAlg alg, ByteView salt, ByteView ikm) {
  // A missing salt means HashLen zero bytes; HMAC pads any short key with zeros, so an empty
  // key gives the same result.
  detail::MacCtx ctx = detail::hmac_start(alg, salt);
  detail::check(EVP_MAC_update(ctx.get(), ikm.data(), ikm.size()));
  SecretBytes prk(hash_size(alg));
  size_t n = 0;
  detail::check(EVP_MAC_final(ctx.get(), prk.data(), &n, prk.size()));
  return prk;
}

SecretBytes hkdf_expand(HashAlg alg, ByteView prk, ByteView info, size_t length) {
  const size_t hl = hash_size(alg);
  if (length > hkdf_max_length(alg)) detail::die();  // caller contract, see the header
  SecretBytes okm(length);
  if (length == 0) return okm;
  detail::MacCtx ctx = detail::hmac_start(alg, prk);
  SecretBytes block(hl);
  size_t done = 0;
  for (uint8_t counter = 1; done < length; ++counter) {
    // Re-initialising without a key keeps the keyed state: T(n) = HMAC(PRK, T(n-1) | info | n).
    if (counter > 1) {
      detail::check(EVP_MAC_init(ctx.get(), nullptr, 0, nullptr));
      detail::check(EVP_MAC_update(ctx.get(), block.data(), hl));
    }
    detail::check(EVP_MAC_update(ctx.get(), info.data(), info.size()));
    detail::check(EVP_MAC_update(ctx.get(), &counter, 1));
    size_t n = 0;
    detail::check(EVP_MAC_final(ctx.get(), block.data(), &n, hl));
    const size_t take = std::min(hl, length - done);
    std::copy_n(block.begin(), take, okm.begin() + static_cast<ptrdiff_t>(done));
    done += take;
  }
  return okm;
}

}  // namespace zerv::crypto
