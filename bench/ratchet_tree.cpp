// Tree hash upkeep after one path change against a full rehash of the same tree, and the cost
// of creating and applying an update path, at 10, 100 and 1000 members.

#include "mls/engine/ratchet_tree.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <vector>

#include "crypto/crypto.h"
#include "mls/engine/suite.h"
#include "mls/engine/treekem.h"

namespace zerv::mls {
namespace {

const Bytes kGroupId = {'b', 'e', 'n', 'c', 'h'};
const Bytes kContext(96, 0x5a);

// A tree where every parent is set: all members added, then every other leaf commits. The last
// committer's keys receive paths from leaf 0.
struct Fixture {
  RatchetTree tree;
  SecretBytes signature_priv;
  LeafNode template_leaf;
  LeafIndex sender{0};
  LeafIndex receiver{0};
  TreePrivate receiver_keys;
};

LeafNode make_leaf(const Bytes& signature_key, const SecretBytes& signature_priv) {
  LeafNode leaf;
  leaf.encryption_key = suite::generate_key_pair().public_key;
  leaf.signature_key = signature_key;
  leaf.credential = Credential::basic(Bytes{'m'});
  leaf.capabilities.versions = {kProtocolVersion};
  leaf.capabilities.cipher_suites = {kCipherSuite};
  leaf.capabilities.credentials = {credential_type::kBasic};
  leaf.source = Lifetime{0, ~uint64_t{0}};
  (void)sign_leaf_node(leaf, {}, LeafIndex(0), signature_priv);
  return leaf;
}

const Fixture& fixture(uint32_t members) {
  static std::map<uint32_t, std::unique_ptr<Fixture>> cache;
  auto& slot = cache[members];
  if (slot) return *slot;
  slot = std::make_unique<Fixture>();
  Fixture& f = *slot;
  crypto::Ed25519KeyPair sig = crypto::ed25519_generate();
  f.signature_priv = sig.private_key;
  f.template_leaf = make_leaf(sig.public_key, f.signature_priv);
  f.tree = RatchetTree(f.template_leaf);
  for (uint32_t i = 1; i < members; ++i)
    f.tree.add_leaf(make_leaf(sig.public_key, f.signature_priv));
  for (uint32_t i = 0; i < members; i += 2) {
    Result<PendingPath> p =
        start_update_path(f.tree, LeafIndex(i), f.template_leaf, kGroupId, f.signature_priv);
    if (!p) continue;
    f.receiver = LeafIndex(i);
    f.receiver_keys = p->private_state;
  }
  if (f.receiver == f.sender) f.receiver = LeafIndex(members - 1);
  return f;
}

void BM_TreeHashAfterPathChange(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<uint32_t>(state.range(0)));
  RatchetTree tree = f.tree;
  LeafNode a = *tree.leaf(f.receiver);
  LeafNode b = a;
  b.signature.back() ^= 1;
  bool flip = false;
  tree.tree_hash();
  for (auto _ : state) {
    (void)tree.update_leaf(f.receiver, flip ? a : b);
    flip = !flip;
    benchmark::DoNotOptimize(tree.tree_hash());
  }
}

void BM_TreeHashFull(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<uint32_t>(state.range(0)));
  std::vector<std::optional<Node>> nodes = f.tree.to_nodes();
  Result<RatchetTree> fresh;
  for (auto _ : state) {
    state.PauseTiming();
    fresh = RatchetTree::from_nodes(nodes);
    state.ResumeTiming();
    benchmark::DoNotOptimize(fresh->tree_hash());
  }
}

void BM_CreateUpdatePath(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<uint32_t>(state.range(0)));
  // Copies live outside the loop so neither copying nor freeing them is timed.
  RatchetTree tree;
  for (auto _ : state) {
    state.PauseTiming();
    tree = f.tree;
    tree.tree_hash();
    state.ResumeTiming();
    Result<PendingPath> pending =
        start_update_path(tree, f.sender, f.template_leaf, kGroupId, f.signature_priv);
    Result<UpdatePath> path = encrypt_update_path(tree, *pending, kContext, {});
    benchmark::DoNotOptimize(path);
  }
}

void BM_ApplyUpdatePath(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<uint32_t>(state.range(0)));
  RatchetTree committed = f.tree;
  Result<PendingPath> pending =
      start_update_path(committed, f.sender, f.template_leaf, kGroupId, f.signature_priv);
  Result<UpdatePath> path = encrypt_update_path(committed, *pending, kContext, {});
  RatchetTree tree;
  TreePrivate keys;
  for (auto _ : state) {
    state.PauseTiming();
    tree = f.tree;
    tree.tree_hash();
    keys = f.receiver_keys;
    state.ResumeTiming();
    if (!tree.merge_update_path(f.sender, *path)) state.SkipWithError("merge failed");
    benchmark::DoNotOptimize(tree.tree_hash());
    auto got = keys.decrypt_update_path(tree, f.sender, *path, kContext, {});
    if (!got) state.SkipWithError("decrypt failed");
  }
}

BENCHMARK(BM_TreeHashAfterPathChange)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_TreeHashFull)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_CreateUpdatePath)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_ApplyUpdatePath)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace
}  // namespace zerv::mls
