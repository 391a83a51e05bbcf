#include "mls/engine/secret_tree.h"

#include <algorithm>
#include <string>
#include <utility>

#include "mls/engine/suite.h"

namespace zerv::mls {

namespace {

constexpr uint64_t kGenerationLimit = uint64_t{1} << 32;

// Derives the key and nonce of ratchet generation `r.next` and moves the ratchet one step on,
// deleting the secret it came from.
RatchetKey step(SecretBytes& secret, uint64_t& next) {
  const auto generation = static_cast<uint32_t>(next);
  RatchetKey out{generation, suite::derive_tree_secret(secret, "key", generation, kKeySize),
                 suite::derive_tree_secret(secret, "nonce", generation, kNonceSize)};
  secret = suite::derive_tree_secret(secret, "secret", generation, kHashSize);
  ++next;
  return out;
}

}  // namespace

RatchetKind ratchet_kind_for(uint8_t content_type) {
  return content_type == 1 ? RatchetKind::kApplication : RatchetKind::kHandshake;
}

SecretTree::SecretTree(ByteView encryption_secret, uint32_t n_leaves, uint32_t tolerance,
                       uint32_t max_forward)
    : n_leaves_(n_leaves), tolerance_(tolerance), max_forward_(max_forward) {
  if (n_leaves > 0) nodes_.emplace(tree_math::root(n_leaves).value, to_secret(encryption_secret));
}

Result<SecretTree::Leaf*> SecretTree::leaf(LeafIndex sender) {
  if (sender.value >= n_leaves_) {
    return fail("secret tree: leaf " + std::to_string(sender.value) + " outside the tree");
  }
  if (auto it = leaves_.find(sender.value); it != leaves_.end()) return &it->second;

  // Walk up to the nearest node whose secret is still held, then derive down to the leaf,
  // deleting each parent once both children exist.
  const NodeIndex target(sender);
  std::vector<NodeIndex> path{target};
  for (NodeIndex n : tree_math::direct_path(target, n_leaves_)) path.push_back(n);
  size_t top = 0;
  while (top < path.size() && !nodes_.contains(path[top].value)) ++top;
  if (top == path.size()) return fail("secret tree: secret of leaf already deleted");
  for (size_t i = top; i > 0; --i) {
    const NodeIndex parent = path[i];
    auto node = nodes_.extract(parent.value);
    const ByteView secret = node.mapped();
    nodes_.emplace(tree_math::left(parent)->value,
                   suite::expand_with_label(secret, "tree", as_bytes("left"), kHashSize));
    nodes_.emplace(tree_math::right(parent)->value,
                   suite::expand_with_label(secret, "tree", as_bytes("right"), kHashSize));
  }
  auto node = nodes_.extract(target.value);
  const ByteView secret = node.mapped();
  Leaf fresh;
  fresh.handshake.secret = suite::expand_with_label(secret, "handshake", {}, kHashSize);
  fresh.application.secret = suite::expand_with_label(secret, "application", {}, kHashSize);
  return &leaves_.emplace(sender.value, std::move(fresh)).first->second;
}

Result<SecretTree::Ratchet*> SecretTree::ratchet(LeafIndex sender, RatchetKind kind) {
  Result<Leaf*> l = leaf(sender);
  if (!l) return fail(l.error().message);
  return kind == RatchetKind::kHandshake ? &(*l)->handshake : &(*l)->application;
}

void SecretTree::keep(Ratchet& r, RatchetKey key) const {
  r.kept.insert_or_assign(key.generation, std::move(key));
  // Only the last `tolerance` generations behind the newest derived one are worth keeping.
  const uint64_t newest = r.next - 1;
  while (!r.kept.empty() && uint64_t{r.kept.begin()->first} + tolerance_ < newest) {
    r.kept.erase(r.kept.begin());
  }
}

Result<RatchetKey> SecretTree::next_key(LeafIndex sender, RatchetKind kind) {
  Result<Ratchet*> r = ratchet(sender, kind);
  if (!r) return fail(r.error().message);
  Ratchet& rat = **r;
  if (rat.next >= kGenerationLimit) return fail("secret tree: ratchet exhausted");
  return step(rat.secret, rat.next);
}

Result<RatchetKey> SecretTree::key_for(LeafIndex sender, RatchetKind kind, uint32_t generation) {
  Result<Ratchet*> r = ratchet(sender, kind);
  if (!r) return fail(r.error().message);
  Ratchet& rat = **r;
  if (generation < rat.next) {
    auto it = rat.kept.find(generation);
    if (it == rat.kept.end()) {
      return fail("secret tree: generation " + std::to_string(generation) +
                  " already used or expired");
    }
    return it->second;
  }
  if (generation - rat.next > max_forward_) {
    return fail("secret tree: generation " + std::to_string(generation) + " too far ahead");
  }
  // Keys more than `tolerance` behind the new head would be dropped at once: skip deriving them.
  while (rat.next < generation) {
    if (generation - rat.next <= tolerance_) {
      keep(rat, step(rat.secret, rat.next));
    } else {
      const auto g = static_cast<uint32_t>(rat.next);
      rat.secret = suite::derive_tree_secret(rat.secret, "secret", g, kHashSize);
      ++rat.next;
    }
  }
  // The requested key is held until it is consumed, so a failed decryption does not lose it.
  RatchetKey key = step(rat.secret, rat.next);
  keep(rat, key);
  return key;
}

void SecretTree::consume(LeafIndex sender, RatchetKind kind, uint32_t generation) {
  auto it = leaves_.find(sender.value);
  if (it == leaves_.end()) return;
  Ratchet& rat = kind == RatchetKind::kHandshake ? it->second.handshake : it->second.application;
  rat.kept.erase(generation);
}

SenderDataKey sender_data_key(ByteView sender_data_secret, ByteView ciphertext) {
  const ByteView sample = ciphertext.first(std::min(ciphertext.size(), kHashSize));
  return {suite::expand_with_label(sender_data_secret, "key", sample, kKeySize),
          suite::expand_with_label(sender_data_secret, "nonce", sample, kNonceSize)};
}


namespace {

void encode_ratchet_key(TlsWriter& w, const RatchetKey& k) {
  w.u32(k.generation);
  w.opaque(k.key);
  w.opaque(k.nonce);
}

RatchetKey decode_ratchet_key(TlsReader& r) {
  RatchetKey k;
  k.generation = r.u32();
  k.key = to_secret(r.opaque_view());
  k.nonce = to_secret(r.opaque_view());
  return k;
}

}  // namespace

void SecretTree::encode(TlsWriter& w) const {
  w.u32(n_leaves_);
  w.u32(tolerance_);
  w.u32(max_forward_);
  w.vec([&](TlsWriter& v) {
    for (const auto& [index, secret] : nodes_) {
      v.u32(index);
      v.opaque(secret);
    }
  });
  auto encode_ratchet = [](TlsWriter& v, const Ratchet& r) {
    v.opaque(r.secret);
    v.u64(r.next);
    v.vec([&](TlsWriter& k) {
      for (const auto& [gen, key] : r.kept) encode_ratchet_key(k, key);
    });
  };
  w.vec([&](TlsWriter& v) {
    for (const auto& [index, leaf] : leaves_) {
      v.u32(index);
      encode_ratchet(v, leaf.handshake);
      encode_ratchet(v, leaf.application);
    }
  });
}

SecretTree SecretTree::decode(TlsReader& r) {
  SecretTree t;
  t.n_leaves_ = r.u32();
  t.tolerance_ = r.u32();
  t.max_forward_ = r.u32();
  r.for_each_in_vec([&](TlsReader& v) {
    uint32_t index = v.u32();
    t.nodes_[index] = to_secret(v.opaque_view());
  });
  auto decode_ratchet = [](TlsReader& v, Ratchet& ratchet) {
    ratchet.secret = to_secret(v.opaque_view());
    ratchet.next = v.u64();
    if (ratchet.next > (uint64_t{1} << 32)) v.fail("ratchet generation out of range");
    v.for_each_in_vec([&](TlsReader& k) {
      RatchetKey key = decode_ratchet_key(k);
      uint32_t gen = key.generation;
      ratchet.kept[gen] = std::move(key);
    });
  };
  r.for_each_in_vec([&](TlsReader& v) {
    uint32_t index = v.u32();
    Leaf& leaf = t.leaves_[index];
    decode_ratchet(v, leaf.handshake);
    decode_ratchet(v, leaf.application);
  });
  return t;
}

}  // namespace zerv::mls
