#include "crypto/evp.h"

namespace zerv::crypto::detail {

const Algorithms& algorithms() {
  // A function-local static is initialised exactly once even under concurrent first calls.
  // The objects live for the whole process on purpose.
  static const Algorithms algs{
      check(EVP_MD_fetch(nullptr, "SHA256", nullptr)),
      check(EVP_MD_fetch(nullptr, "SHA512", nullptr)),
      check(EVP_CIPHER_fetch(nullptr, "AES-128-GCM", nullptr)),
      check(EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr)),
      check(EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr)),
  };
  return algs;
}

}  // namespace zerv::crypto::detail
