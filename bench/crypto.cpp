// Costs of the primitives under the MLS engine and the frame layer. The bare AES-128-GCM seal of
// 100 bytes is the baseline the other figures are read against.
#include "crypto/crypto.h"

#include <benchmark/benchmark.h>

#include "crypto/hpke.h"
#include "mls/engine/suite.h"

namespace zerv {
namespace {

const Bytes kPayload(100, 0xab);

void BM_Baseline_Aes128GcmSeal100(benchmark::State& state) {
  const Bytes key(16, 1), nonce(12, 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        crypto::aead_seal(crypto::AeadAlg::kAes128Gcm, key, nonce, {}, kPayload));
  }
}
BENCHMARK(BM_Baseline_Aes128GcmSeal100);

void BM_Aes128GcmOpen100(benchmark::State& state) {
  const Bytes key(16, 1), nonce(12, 2);
  const Bytes ct = *crypto::aead_seal(crypto::AeadAlg::kAes128Gcm, key, nonce, {}, kPayload);
  for (auto _ : state) {
    benchmark::DoNotOptimize(crypto::aead_open(crypto::AeadAlg::kAes128Gcm, key, nonce, {}, ct));
  }
}
BENCHMARK(BM_Aes128GcmOpen100);

void BM_ChaCha20Poly1305Seal100(benchmark::State& state) {
  const Bytes key(32, 1), nonce(12, 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        crypto::aead_seal(crypto::AeadAlg::kChaCha20Poly1305, key, nonce, {}, kPayload));
  }
}
BENCHMARK(BM_ChaCha20Poly1305Seal100);

void BM_Sha256_100(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(crypto::hash(crypto::HashAlg::kSha256, kPayload));
}
BENCHMARK(BM_Sha256_100);

void BM_HkdfExpand32(benchmark::State& state) {
  const Bytes prk(32, 3), info(20, 4);
  for (auto _ : state) {
    benchmark::DoNotOptimize(crypto::hkdf_expand(crypto::HashAlg::kSha256, prk, info, 32));
  }
}
BENCHMARK(BM_HkdfExpand32);

// One ratchet step of the secret tree derives a key, a nonce and the next secret.
void BM_DeriveTreeSecret(benchmark::State& state) {
  const Bytes secret(32, 5);
  uint32_t generation = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mls::suite::derive_tree_secret(secret, "key", generation++, 16));
  }
}
BENCHMARK(BM_DeriveTreeSecret);

void BM_X25519(benchmark::State& state) {
  const crypto::X25519KeyPair a = crypto::x25519_generate(), b = crypto::x25519_generate();
  for (auto _ : state) benchmark::DoNotOptimize(crypto::x25519(a.private_key, b.public_key));
}
BENCHMARK(BM_X25519);

void BM_Ed25519Sign(benchmark::State& state) {
  const crypto::Ed25519KeyPair kp = crypto::ed25519_generate();
  for (auto _ : state) benchmark::DoNotOptimize(crypto::ed25519_sign(kp.private_key, kPayload));
}
BENCHMARK(BM_Ed25519Sign);

void BM_Ed25519Verify(benchmark::State& state) {
  const crypto::Ed25519KeyPair kp = crypto::ed25519_generate();
  const Bytes sig = *crypto::ed25519_sign(kp.private_key, kPayload);
  for (auto _ : state) {
    benchmark::DoNotOptimize(crypto::ed25519_verify(kp.public_key, kPayload, sig));
  }
}
BENCHMARK(BM_Ed25519Verify);

void BM_HpkeSeal100(benchmark::State& state) {
  const crypto::hpke::KeyPair r = crypto::hpke::generate_key_pair();
  const Bytes info(40, 6);
  for (auto _ : state) {
    benchmark::DoNotOptimize(crypto::hpke::seal(r.public_key, info, {}, kPayload));
  }
}
BENCHMARK(BM_HpkeSeal100);

void BM_HpkeOpen100(benchmark::State& state) {
  const crypto::hpke::KeyPair r = crypto::hpke::generate_key_pair();
  const Bytes info(40, 6);
  const crypto::hpke::Sealed s = *crypto::hpke::seal(r.public_key, info, {}, kPayload);
  for (auto _ : state) {
    benchmark::DoNotOptimize(crypto::hpke::open(s.enc, r.private_key, info, {}, s.ciphertext));
  }
}
BENCHMARK(BM_HpkeOpen100);

}  // namespace
}  // namespace zerv
