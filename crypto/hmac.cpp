// HMAC (RFC 2104) over the pre-fetched digests. OpenSSL's generic MAC object fetches its digest
// by name on every keying, which more than doubles the cost of the short HMACs that HKDF runs on
// every key derivation; two plain digest passes avoid that.
#include <array>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {
namespace detail {

void hmac_into(HashAlg alg, ByteView key, std::initializer_list<ByteView> parts, uint8_t* out) {
  const EVP_MD* digest = md(alg);
  const size_t block = alg == HashAlg::kSha256 ? 64 : 128;
  const size_t hl = hash_size(alg);
  std::array<uint8_t, 128> k0{};
  std::array<uint8_t, 128> pad;
  std::array<uint8_t, 64> inner;
  unsigned int n = 0;
  MdCtx ctx(check(EVP_MD_CTX_new()));

  // Keys longer than a block are hashed first; shorter ones are padded with zeros.
  if (key.size() > block) {
    check(EVP_Digest(key.data(), key.size(), k0.data(), &n, digest, nullptr));
  } else if (!key.empty()) {
    std::memcpy(k0.data(), key.data(), key.size());
  }

  for (size_t i = 0; i < block; ++i) pad[i] = k0[i] ^ 0x36;
  check(EVP_DigestInit_ex2(ctx.get(), digest, nullptr));
  check(EVP_DigestUpdate(ctx.get(), pad.data(), block));
  for (ByteView part : parts) check(EVP_DigestUpdate(ctx.get(), part.data(), part.size()));
  check(EVP_DigestFinal_ex(ctx.get(), inner.data(), &n));

  for (size_t i = 0; i < block; ++i) pad[i] = k0[i] ^ 0x5c;
  check(EVP_DigestInit_ex2(ctx.get(), digest, nullptr));
  check(EVP_DigestUpdate(ctx.get(), pad.data(), block));
  check(EVP_DigestUpdate(ctx.get(), inner.data(), hl));
  check(EVP_DigestFinal_ex(ctx.get(), out, &n));

  secure_wipe(k0.data(), k0.size());
  secure_wipe(pad.data(), pad.size());
  secure_wipe(inner.data(), inner.size());
}

}  // namespace detail

Bytes hmac(HashAlg alg, ByteView key, ByteView data) {
  Bytes out(hash_size(alg));
  detail::hmac_into(alg, key, {data}, out.data());
  return out;
}

}  // namespace zerv::crypto
