// X25519 key agreement (RFC 7748).
#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {
namespace {

constexpr size_t kKeySize = 32;

Result<detail::Pkey> private_key(ByteView raw) {
  if (raw.size() != kKeySize) return fail("bad private key length");
  return detail::Pkey(detail::check(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, raw.data(), raw.size())));
}

Bytes public_of(EVP_PKEY* key) {
  Bytes pub(kKeySize);
  size_t n = pub.size();
  detail::check(EVP_PKEY_get_raw_public_key(key, pub.data(), &n));
  return pub;
}

}  // namespace

X25519KeyPair x25519_generate() {
  // Any 32 bytes are a valid private key: the scalar is clamped when used.
  X25519KeyPair kp{random_secret(kKeySize), {}};
  kp.public_key = x25519_public_from_private(kp.private_key).value();
  return kp;
}

Result<Bytes> x25519_public_from_private(ByteView private_key_raw) {
  auto key = private_key(private_key_raw);
  if (!key) return fail(key.error().message);
  return public_of(key->get());
}

Result<SecretBytes> x25519(ByteView private_key_raw, ByteView peer_public) {
  auto key = private_key(private_key_raw);
  if (!key) return fail(key.error().message);
  if (peer_public.size() != kKeySize) return fail("bad public key length");
  detail::Pkey peer(detail::check(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer_public.data(), kKeySize)));
  detail::PkeyCtx ctx(detail::check(EVP_PKEY_CTX_new_from_pkey(nullptr, key->get(), nullptr)));
  detail::check(EVP_PKEY_derive_init(ctx.get()));
  detail::check(EVP_PKEY_derive_set_peer_ex(ctx.get(), peer.get(), 0));
  SecretBytes shared(kKeySize);
  size_t n = shared.size();
  // OpenSSL refuses an all-zero result itself; the check below keeps that guarantee explicit.
  if (EVP_PKEY_derive(ctx.get(), shared.data(), &n) <= 0 || n != kKeySize) {
    detail::clear_errors();
    return fail("invalid public key");
  }
  uint8_t acc = 0;
  for (uint8_t b : shared) acc |= b;
  if (acc == 0) return fail("invalid public key");
  return shared;
}

}  // namespace zerv::crypto
