// HKDF (RFC 5869). Expand runs on the hot paths of the key schedule and the secret tree, so it
// calls HMAC directly rather than through a generic KDF object.
#include <algorithm>

#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {

size_t hkdf_max_length(HashAlg alg) { return 255 * hash_size(alg); }

SecretBytes hkdf_extract(HashAlg alg, ByteView salt, ByteView ikm) {
  // A missing salt means HashLen zero bytes; HMAC pads a short key with zeros, so an empty salt
  // gives the same result.
  SecretBytes prk(hash_size(alg));
  detail::hmac_into(alg, salt, {ikm}, prk.data());
  return prk;
}

SecretBytes hkdf_expand(HashAlg alg, ByteView prk, ByteView info, size_t length) {
  if (length > hkdf_max_length(alg)) detail::die();  // caller contract, see the header
  const size_t hl = hash_size(alg);
  SecretBytes okm(length);
  SecretBytes block(hl);
  ByteView previous;  // T(0) is empty
  for (size_t done = 0, counter = 1; done < length; ++counter) {
    // T(n) = HMAC(PRK, T(n-1) | info | n)
    const uint8_t c = static_cast<uint8_t>(counter);
    detail::hmac_into(alg, prk, {previous, info, ByteView(&c, 1)}, block.data());
    const size_t take = std::min(hl, length - done);
    std::copy_n(block.begin(), take, okm.begin() + static_cast<ptrdiff_t>(done));
    done += take;
    previous = block;
  }
  return okm;
}

}  // namespace zerv::crypto
