#pragma once
// Internal: owning handles for OpenSSL objects and the algorithms fetched once per process.
// Fetching by name takes locks inside OpenSSL, so the hot paths reuse these immutable objects.

#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>

#include "crypto/crypto.h"

namespace zerv::crypto::detail {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const noexcept { Free(p); }
};

using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;

// Algorithms fetched from the default provider on first use; read-only afterwards.
struct Algorithms {
  EVP_MD* sha256;
  EVP_MD* sha512;
  EVP_CIPHER* aes128gcm;
  EVP_CIPHER* aes256gcm;
  EVP_CIPHER* chacha20poly1305;
};
const Algorithms& algorithms();

const EVP_MD* md(HashAlg alg);

// HMAC(key, concatenation of parts) written to out (hash_size(alg) bytes). out is written only
// after every part was read, so it may be one of them.
void hmac_into(HashAlg alg, ByteView key, std::initializer_list<ByteView> parts, uint8_t* out);

// An OpenSSL call that cannot fail short of memory exhaustion or a broken library did fail.
[[noreturn]] inline void die() { std::abort(); }

// Drops the error entries an expected failure (bad tag, bad point) leaves in this thread's queue.
inline void clear_errors() { ERR_clear_error(); }

template <class T>
T* check(T* p) {
  if (p == nullptr) die();
  return p;
}
inline void check(int rc) {
  if (rc <= 0) die();
}

}  // namespace zerv::crypto::detail
