// Ed25519 signatures (RFC 8032, pure variant).
#include "crypto/crypto.h"
#include "crypto/evp.h"

#include <openssl/crypto.h>

namespace zerv::crypto {
namespace {

constexpr size_t kKeySize = 32;
constexpr size_t kSignatureSize = 64;

Result<detail::Pkey> private_key(ByteView seed) {
  if (seed.size() != kKeySize) return fail("bad private key length");
  return detail::Pkey(detail::check(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size())));
}

// OpenSSL derives the public point whenever a private key object is built, which costs as much as
// the signature itself. A member signs with the same key over and over, so each thread keeps the
// object for the last key it signed with. The seed copy is wiped when replaced or at thread exit.
struct CachedSigningKey {
  SecretBytes seed;
  detail::Pkey key;
};

Result<EVP_PKEY*> signing_key(ByteView seed) {
  thread_local CachedSigningKey cache;
  if (cache.key && cache.seed.size() == seed.size() &&
      CRYPTO_memcmp(cache.seed.data(), seed.data(), seed.size()) == 0) {
    return cache.key.get();
  }
  auto key = private_key(seed);
  if (!key) return fail(key.error().message);
  cache.key = std::move(*key);
  cache.seed.assign(seed.begin(), seed.end());
  return cache.key.get();
}

}  // namespace

Ed25519KeyPair ed25519_generate() {
  Ed25519KeyPair kp{random_secret(kKeySize), {}};
  kp.public_key = ed25519_public_from_private(kp.private_key).value();
  return kp;
}

Result<Bytes> ed25519_public_from_private(ByteView private_key_raw) {
  auto key = private_key(private_key_raw);
  if (!key) return fail(key.error().message);
  Bytes pub(kKeySize);
  size_t n = pub.size();
  detail::check(EVP_PKEY_get_raw_public_key(key->get(), pub.data(), &n));
  return pub;
}

Result<Bytes> ed25519_sign(ByteView private_key_raw, ByteView message) {
  auto key = signing_key(private_key_raw);
  if (!key) return fail(key.error().message);
  detail::MdCtx ctx(detail::check(EVP_MD_CTX_new()));
  detail::check(EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, *key));
  Bytes sig(kSignatureSize);
  size_t n = sig.size();
  detail::check(EVP_DigestSign(ctx.get(), sig.data(), &n, message.data(), message.size()));
  return sig;
}

bool ed25519_verify(ByteView public_key, ByteView message, ByteView signature) {
  if (public_key.size() != kKeySize || signature.size() != kSignatureSize) return false;
  // A malformed point is rejected here or in the verification itself.
  detail::Pkey key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key.data(), kKeySize));
  if (!key) {
    detail::clear_errors();
    return false;
  }
  detail::MdCtx ctx(detail::check(EVP_MD_CTX_new()));
  const bool ok = EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) > 0 &&
                  EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                                   message.size()) == 1;
  if (!ok) detail::clear_errors();
  return ok;
}

}  // namespace zerv::crypto
