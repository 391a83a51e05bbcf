// Cost of an epoch change in the key schedule and of protecting and unprotecting a 100-byte
// application message, against a bare AES-128-GCM seal of 100 bytes measured in the same run.

#include "mls/engine/key_schedule.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "crypto/crypto.h"
#include "mls/engine/message_protection.h"
#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

const GroupContext& context() {
  static const GroupContext ctx{kProtocolVersion,
                                kCipherSuite,
                                Bytes(16, 0x11),
                                42,
                                Bytes(kHashSize, 0x22),
                                Bytes(kHashSize, 0x33),
                                {}};
  return ctx;
}

Result<Bytes> bare_seal() {
  static const Bytes key(kKeySize, 1), nonce(kNonceSize, 2), aad(24, 3), data(100, 4);
  return crypto::aead_seal(crypto::AeadAlg::kAes128Gcm, key, nonce, aad, data);
}

double thread_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds per bare seal, timed once per run (on the same clock the benchmarks report by
// default) so every benchmark can report its cost as a multiple of it.
double baseline_seconds() {
  static const double seconds = [] {
    constexpr int kRounds = 50000;
    const double start = thread_cpu_seconds();
    for (int i = 0; i < kRounds; ++i) benchmark::DoNotOptimize(bare_seal());
    return (thread_cpu_seconds() - start) / kRounds;
  }();
  return seconds;
}

// Reports CPU time per iteration divided by the bare seal's, as the counter "x_bare_seal" (shown
// with a seconds suffix by the console reporter, but it is a plain ratio).
void report_ratio(benchmark::State& state) {
  state.counters["x_bare_seal"] =
      benchmark::Counter(baseline_seconds(), benchmark::Counter::kIsIterationInvariantRate |
                                                 benchmark::Counter::kInvert);
}

void BM_BareAeadSeal100(benchmark::State& state) {
  for (auto _ : state) {
    auto out = bare_seal();
    benchmark::DoNotOptimize(out);
  }
  report_ratio(state);
}
BENCHMARK(BM_BareAeadSeal100);

void BM_KeyScheduleEpochAdvance(benchmark::State& state) {
  const Bytes commit_secret(kHashSize, 5), psk_secret(kHashSize, 0);
  const Bytes ctx = encode_one(context());
  SecretBytes init(kHashSize, 6);
  for (auto _ : state) {
    EpochSecrets s = key_schedule::advance(init, commit_secret, psk_secret, ctx);
    init = std::move(s.init_secret);
    benchmark::DoNotOptimize(init.data());
  }
  report_ratio(state);
}
BENCHMARK(BM_KeyScheduleEpochAdvance);

struct Sender1 {
  crypto::Ed25519KeyPair keys = crypto::ed25519_generate();
  Bytes sender_data_secret = Bytes(kHashSize, 7);
  Bytes encryption_secret = Bytes(kHashSize, 8);
  FramedContent framed{
      context().group_id, context().epoch, Sender::member(1), {}, Bytes(100, 0x61)};
};

void BM_PrivateMessageProtect100(benchmark::State& state) {
  Sender1 s;
  SecretTree tree(s.encryption_secret, 2);
  for (auto _ : state) {
    auto content =
        sign_content(wire_format::kPrivateMessage, s.framed, context(), s.keys.private_key);
    auto msg = protect_private(*content, tree, s.sender_data_secret);
    if (!msg) std::abort();
    benchmark::DoNotOptimize(msg->ciphertext.data());
  }
  report_ratio(state);
}
BENCHMARK(BM_PrivateMessageProtect100);

void BM_PrivateMessageUnprotect100(benchmark::State& state) {
  Sender1 s;
  const Bytes pub = s.keys.public_key;
  const SignatureKeyLookup lookup = [&pub](const FramedContent&) { return std::optional(pub); };
  // Messages are made in batches outside the timing; each receiver tree sees them in order.
  constexpr size_t kBatch = 256;
  SecretTree sender(s.encryption_secret, 2);
  std::vector<PrivateMessage> batch;
  SecretTree receiver(s.encryption_secret, 2);
  size_t next = kBatch;
  for (auto _ : state) {
    if (next == kBatch) {
      state.PauseTiming();
      sender = SecretTree(s.encryption_secret, 2);
      receiver = SecretTree(s.encryption_secret, 2);
      batch.clear();
      for (size_t i = 0; i < kBatch; ++i) {
        auto content =
            sign_content(wire_format::kPrivateMessage, s.framed, context(), s.keys.private_key);
        batch.push_back(*protect_private(*content, sender, s.sender_data_secret));
      }
      next = 0;
      state.ResumeTiming();
    }
    auto content =
        unprotect_private(batch[next++], context(), receiver, s.sender_data_secret, lookup);
    if (!content) std::abort();
    benchmark::DoNotOptimize(content->auth.signature.data());
  }
  report_ratio(state);
}
BENCHMARK(BM_PrivateMessageUnprotect100);

}  // namespace
}  // namespace zerv::mls
