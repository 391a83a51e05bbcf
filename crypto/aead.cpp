// AES-128-GCM, AES-256-GCM and ChaCha20-Poly1305 with a 12-byte nonce and a 16-byte tag.
#include <climits>

#include "crypto/crypto.h"
#include "crypto/evp.h"

namespace zerv::crypto {
namespace {

const EVP_CIPHER* cipher(AeadAlg alg) {
  const detail::Algorithms& a = detail::algorithms();
  switch (alg) {
    case AeadAlg::kAes128Gcm:
      return a.aes128gcm;
    case AeadAlg::kAes256Gcm:
      return a.aes256gcm;
    case AeadAlg::kChaCha20Poly1305:
      return a.chacha20poly1305;
  }
  detail::die();
}

// Checks the sizes shared by seal and open; OpenSSL takes int lengths.
Result<void> check_inputs(AeadAlg alg, ByteView key, ByteView nonce, ByteView aad, ByteView text) {
  if (key.size() != aead_key_size(alg)) return fail("bad key length");
  if (nonce.size() != kAeadNonceSize) return fail("bad nonce length");
  if (aad.size() > INT_MAX || text.size() > INT_MAX - kAeadTagSize) return fail("input too long");
  return {};
}

}  // namespace

size_t aead_key_size(AeadAlg alg) { return alg == AeadAlg::kAes128Gcm ? 16 : 32; }

Result<Bytes> aead_seal(AeadAlg alg, ByteView key, ByteView nonce, ByteView aad,
                        ByteView plaintext) {
  if (auto ok = check_inputs(alg, key, nonce, aad, plaintext); !ok) return fail(ok.error().message);
  detail::CipherCtx ctx(detail::check(EVP_CIPHER_CTX_new()));
  detail::check(EVP_EncryptInit_ex2(ctx.get(), cipher(alg), key.data(), nonce.data(), nullptr));
  int n = 0;
  if (!aad.empty()) {
    detail::check(
        EVP_EncryptUpdate(ctx.get(), nullptr, &n, aad.data(), static_cast<int>(aad.size())));
  }
  Bytes out(plaintext.size() + kAeadTagSize);
  int written = 0;
  if (!plaintext.empty()) {
    detail::check(EVP_EncryptUpdate(ctx.get(), out.data(), &written, plaintext.data(),
                                    static_cast<int>(plaintext.size())));
  }
  detail::check(EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &n));
  detail::check(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, kAeadTagSize,
                                    out.data() + plaintext.size()));
  return out;
}

Result<Bytes> aead_open(AeadAlg alg, ByteView key, ByteView nonce, ByteView aad,
                        ByteView ciphertext) {
  if (auto ok = check_inputs(alg, key, nonce, aad, ciphertext); !ok) {
    return fail(ok.error().message);
  }
  if (ciphertext.size() < kAeadTagSize) return fail("ciphertext too short");
  const size_t body = ciphertext.size() - kAeadTagSize;
  detail::CipherCtx ctx(detail::check(EVP_CIPHER_CTX_new()));
  detail::check(EVP_DecryptInit_ex2(ctx.get(), cipher(alg), key.data(), nonce.data(), nullptr));
  int n = 0;
  if (!aad.empty()) {
    detail::check(
        EVP_DecryptUpdate(ctx.get(), nullptr, &n, aad.data(), static_cast<int>(aad.size())));
  }
  Bytes out(body);
  int written = 0;
  if (body != 0) {
    detail::check(EVP_DecryptUpdate(ctx.get(), out.data(), &written, ciphertext.data(),
                                    static_cast<int>(body)));
  }
  // OpenSSL only reads the tag here.
  detail::check(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, kAeadTagSize,
                                    const_cast<uint8_t*>(ciphertext.data() + body)));
  if (EVP_DecryptFinal_ex(ctx.get(), out.data() + written, &n) <= 0) {
    // Unauthenticated plaintext must not linger.
    secure_wipe(out.data(), out.size());
    detail::clear_errors();
    return fail("authentication failed");
  }
  return out;
}

}  // namespace zerv::crypto
