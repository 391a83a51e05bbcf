// Costs of group operations at 10, 100 and 1,000 members: creating and processing commits (add
// without and with a path, remove) and joining from a Welcome. Two tree shapes: "full", built by
// adding members one at a time with a path each, and "sparse", built by adding everyone in one
// commit without a path (no parent keys at all). One HPKE seal to a single key is the baseline
// the figures are read against; a path commit should cost a number of baselines that grows with
// log n, not n.
#include "mls/engine/group.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "mls/engine/suite.h"

namespace zerv::mls {
namespace {

constexpr uint64_t kNow = 1'800'000'000;
Clock clock_fn() {
  return [] { return kNow; };
}

struct Client {
  explicit Client(int i) : credential(Credential::basic(to_bytes(as_bytes(std::to_string(i))))) {
    signer.store(storage);
    kp = *build_key_package(storage, signer, credential, kNow);
  }
  Storage storage;
  Signer signer = Signer::generate();
  Credential credential;
  KeyPackage kp;
};

// A group of n members seen by its creator (leaf 0) and by a member at leaf 1 that processes the
// creator's commits. Built once per shape and size. Handshakes travel as PublicMessage so the
// creator's many discarded commits do not push its handshake ratchet out of the follower's reach.
struct Fixture {
  std::unique_ptr<Client> creator, follower, spare;
  std::optional<Group> creator_group, follower_group;
  MLSMessage last_welcome;  // the Welcome that brought the last members in
  Storage joiner;           // private keys of a member that Welcome addresses
};

GroupConfig bench_config() {
  GroupConfig c;
  c.outgoing_private = false;
  c.accept_public = true;
  return c;
}

void follow(Group& g, const MLSMessage& commit) {
  Result<ProcessedMessage> p = g.process(commit);
  if (!p || !g.merge_staged_commit(std::move(*p->commit))) std::abort();
}

Fixture& fixture(bool full, int n) {
  static std::map<std::pair<bool, int>, std::unique_ptr<Fixture>> built;
  auto& slot = built[{full, n}];
  if (slot) return *slot;
  slot = std::make_unique<Fixture>();
  Fixture& f = *slot;
  const GroupConfig config = bench_config();
  f.creator = std::make_unique<Client>(0);
  f.creator_group = *Group::create(f.creator->storage, f.creator->signer, f.creator->credential,
                                   config, clock_fn());
  f.follower = std::make_unique<Client>(1);
  CommitOptions first;
  first.add = {f.follower->kp};
  first.force_path = full;
  CommitOutput out = *f.creator_group->commit(first);
  (void)f.creator_group->merge_pending_commit();
  f.follower_group = *Group::join(f.follower->storage, std::get<Welcome>(out.welcome->content),
                                  config, clock_fn());
  f.last_welcome = *out.welcome;

  if (full) {
    // Each newcomer adds the next one with a path of its own, so every parent node ends up
    // holding a key, as in a group whose members all committed once.
    std::unique_ptr<Client> newest;
    std::optional<Group> newest_group;
    for (int i = 2; i < n; ++i) {
      auto next = std::make_unique<Client>(i);
      CommitOptions o;
      o.add = {next->kp};
      o.force_path = true;
      Group& committer = newest_group ? *newest_group : *f.creator_group;
      CommitOutput c = *committer.commit(o);
      (void)committer.merge_pending_commit();
      if (newest_group) follow(*f.creator_group, c.commit);
      follow(*f.follower_group, c.commit);
      Result<Group> joined = Group::join(next->storage, std::get<Welcome>(c.welcome->content),
                                         config, clock_fn());
      if (!joined) std::abort();
      newest = std::move(next);
      newest_group = std::move(*joined);
      f.last_welcome = *c.welcome;
    }
    if (newest) f.joiner.fill(newest->storage.list());
  } else if (n > 2) {
    // Everyone else in one commit without a path: no parent node holds a key.
    Storage scratch;
    CommitOptions o;
    for (int i = 2; i < n; ++i) {
      Signer s = Signer::generate();
      s.store(scratch);
      o.add.push_back(*build_key_package(scratch, s, Credential::basic({uint8_t(i)}), kNow));
    }
    CommitOutput c = *f.creator_group->commit(o);
    (void)f.creator_group->merge_pending_commit();
    follow(*f.follower_group, c.commit);
    f.last_welcome = *c.welcome;
    f.joiner.fill(scratch.list());
  }
  f.spare = std::make_unique<Client>(n + 1);
  return f;
}

enum class Op { kAddNoPath, kAddWithPath, kRemove };

CommitOptions options(Op op, Fixture& f) {
  CommitOptions o;
  if (op == Op::kRemove) {
    o.remove = {2};  // leaf 1 is the follower
  } else {
    o.add = {f.spare->kp};
    o.force_path = op == Op::kAddWithPath;
  }
  return o;
}

void BM_Baseline_HpkeSeal(benchmark::State& state) {
  suite::HpkeKeyPair kp = suite::generate_key_pair();
  const Bytes secret(32, 7), context(100, 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(suite::encrypt_with_label(kp.public_key, "UpdatePathNode", context,
                                                       secret));
  }
}
BENCHMARK(BM_Baseline_HpkeSeal);

void create_commit(benchmark::State& state, bool full, Op op) {
  Fixture& f = fixture(full, static_cast<int>(state.range(0)));
  CommitOptions o = options(op, f);
  for (auto _ : state) {
    Result<CommitOutput> out = f.creator_group->commit(o);
    if (!out) {
      state.SkipWithError(out.error().message.c_str());
      break;
    }
    benchmark::DoNotOptimize(out);
    state.PauseTiming();
    (void)f.creator_group->discard_pending_commit();
    state.ResumeTiming();
  }
}

void process_commit(benchmark::State& state, bool full, Op op) {
  Fixture& f = fixture(full, static_cast<int>(state.range(0)));
  CommitOptions o = options(op, f);
  for (auto _ : state) {
    state.PauseTiming();
    Result<CommitOutput> out = f.creator_group->commit(o);
    (void)f.creator_group->discard_pending_commit();
    state.ResumeTiming();
    if (!out) {
      state.SkipWithError(out.error().message.c_str());
      break;
    }
    Result<ProcessedMessage> p = f.follower_group->process(out->commit);
    if (!p) {
      state.SkipWithError(p.error().message.c_str());
      break;
    }
    benchmark::DoNotOptimize(p);
  }
}

void join(benchmark::State& state, bool full) {
  Fixture& f = fixture(full, static_cast<int>(state.range(0)));
  // The last member's Welcome, opened with a key package whose private keys are in a storage of
  // its own: the joiner sees the whole group of n members.
  const Welcome& welcome = std::get<Welcome>(f.last_welcome.content);
  for (auto _ : state) {
    Result<Group> g = Group::join(f.joiner, welcome, bench_config(), clock_fn());
    if (!g) {
      state.SkipWithError(g.error().message.c_str());
      break;
    }
    benchmark::DoNotOptimize(g);
  }
}

#define ZERV_GROUP_BENCH(name, ...)                                                   \
  void name(benchmark::State& state) { __VA_ARGS__; }                                 \
  BENCHMARK(name)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The part of a commit that grows with n rather than log n: the staged epoch starts from a copy
// of the public tree.
void copy_tree(benchmark::State& state, bool full) {
  Fixture& f = fixture(full, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    RatchetTree copy = f.creator_group->tree();
    benchmark::DoNotOptimize(copy);
  }
}

ZERV_GROUP_BENCH(BM_Full_CopyTree, copy_tree(state, true))
ZERV_GROUP_BENCH(BM_Full_CreateAddNoPath, create_commit(state, true, Op::kAddNoPath))
ZERV_GROUP_BENCH(BM_Full_CreateAddWithPath, create_commit(state, true, Op::kAddWithPath))
ZERV_GROUP_BENCH(BM_Full_CreateRemove, create_commit(state, true, Op::kRemove))
ZERV_GROUP_BENCH(BM_Full_ProcessAddNoPath, process_commit(state, true, Op::kAddNoPath))
ZERV_GROUP_BENCH(BM_Full_ProcessAddWithPath, process_commit(state, true, Op::kAddWithPath))
ZERV_GROUP_BENCH(BM_Full_ProcessRemove, process_commit(state, true, Op::kRemove))
ZERV_GROUP_BENCH(BM_Full_JoinFromWelcome, join(state, true))
ZERV_GROUP_BENCH(BM_Sparse_CreateAddNoPath, create_commit(state, false, Op::kAddNoPath))
ZERV_GROUP_BENCH(BM_Sparse_CreateAddWithPath, create_commit(state, false, Op::kAddWithPath))
ZERV_GROUP_BENCH(BM_Sparse_CreateRemove, create_commit(state, false, Op::kRemove))
ZERV_GROUP_BENCH(BM_Sparse_ProcessAddNoPath, process_commit(state, false, Op::kAddNoPath))
ZERV_GROUP_BENCH(BM_Sparse_ProcessAddWithPath, process_commit(state, false, Op::kAddWithPath))
ZERV_GROUP_BENCH(BM_Sparse_ProcessRemove, process_commit(state, false, Op::kRemove))
ZERV_GROUP_BENCH(BM_Sparse_JoinFromWelcome, join(state, false))

}  // namespace
}  // namespace zerv::mls
