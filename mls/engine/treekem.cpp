#include "mls/engine/treekem.h"

#include <algorithm>
#include <string>
#include <utility>

#include "crypto/crypto.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

namespace {

constexpr std::string_view kPathLabel = "UpdatePathNode";

bool same_key(ByteView a, ByteView b) { return std::ranges::equal(a, b); }

// Whether node a is x itself or one of x's ancestors.
bool covers(NodeIndex a, NodeIndex x) { return tree_math::common_ancestor(a, x) == a; }

}  // namespace

Result<suite::HpkeKeyPair> node_key_pair(ByteView path_secret) {
  SecretBytes node_secret = suite::derive_secret(path_secret, "node");
  return suite::derive_key_pair(node_secret);
}

SecretBytes next_path_secret(ByteView path_secret) {
  return suite::derive_secret(path_secret, "path");
}

// ---- TreePrivate ----

Result<TreePrivate> TreePrivate::create(LeafIndex leaf, SecretBytes leaf_private_key) {
  TreePrivate t;
  t.leaf_ = leaf;
  if (Result<void> r = t.set_leaf_private_key(std::move(leaf_private_key)); !r) {
    return std::unexpected(r.error());
  }
  return t;
}

Result<void> TreePrivate::set_leaf_private_key(SecretBytes key) {
  Result<Bytes> pub = crypto::x25519_public_from_private(key);
  if (!pub) return fail("leaf private key: ", pub.error());
  leaf_key_ = {std::move(key), std::move(*pub)};
  return {};
}

const SecretBytes* TreePrivate::private_key(NodeIndex x) const {
  if (x == NodeIndex(leaf_)) return &leaf_key_.private_key;
  auto it = node_keys_.find(x.value);
  return it == node_keys_.end() ? nullptr : &it->second.private_key;
}

Result<void> TreePrivate::set_path_secret(const RatchetTree& tree, NodeIndex x,
                                          ByteView path_secret) {
  if (x.is_leaf() || tree.parent(x) == nullptr) return fail("path secret for a blank node");
  Result<suite::HpkeKeyPair> pair = node_key_pair(path_secret);
  if (!pair) return fail("path secret: ", pair.error());
  if (!same_key(pair->public_key, tree.encryption_key(x))) {
    return fail("path secret does not match node " + std::to_string(x.value));
  }
  node_keys_[x.value] = std::move(*pair);
  return {};
}

Result<SecretBytes> TreePrivate::implant(const RatchetTree& tree, NodeIndex from,
                                         ByteView path_secret) {
  std::vector<NodeIndex> path = tree.filtered_direct_path(leaf_);
  auto start = std::find(path.begin(), path.end(), from);
  if (start == path.end()) return fail("path secret for a node off the member's path");
  std::vector<std::pair<uint32_t, suite::HpkeKeyPair>> derived;
  SecretBytes secret = to_secret(path_secret);
  for (auto it = start; it != path.end(); ++it) {
    Result<suite::HpkeKeyPair> pair = node_key_pair(secret);
    if (!pair) return fail("path secret: ", pair.error());
    if (!same_key(pair->public_key, tree.encryption_key(*it))) {
      return fail("derived key does not match node " + std::to_string(it->value));
    }
    derived.emplace_back(it->value, std::move(*pair));
    secret = next_path_secret(secret);
  }
  for (auto& [node, pair] : derived) node_keys_[node] = std::move(pair);
  prune(tree);
  return secret;
}

Result<TreePrivate::Decrypted> TreePrivate::decrypt_update_path(
    const RatchetTree& tree, LeafIndex sender, const UpdatePath& path, ByteView group_context,
    std::span<const LeafIndex> excluded) {
  if (sender == leaf_) return fail("cannot decrypt an own update path");
  std::vector<PathStep> steps = tree.filtered_path(sender);
  if (steps.size() != path.nodes.size()) return fail("update path does not fit the tree");

  NodeIndex me(leaf_);
  NodeIndex ancestor = tree_math::common_ancestor(me, NodeIndex(sender));
  size_t at = 0;
  while (at < steps.size() && steps[at].node != ancestor) ++at;
  if (at == steps.size()) return fail("update path does not reach this member");

  std::vector<NodeIndex> res = tree.resolution(steps[at].copath_child, excluded);
  const std::vector<HpkeCiphertext>& cts = path.nodes[at].encrypted_path_secret;
  if (cts.size() != res.size()) return fail("update path has the wrong number of ciphertexts");
  size_t slot = 0;
  while (slot < res.size() && !(covers(res[slot], me) && private_key(res[slot]) != nullptr)) ++slot;
  if (slot == res.size()) return fail("no key to decrypt the update path");

  Result<Bytes> plain =
      suite::decrypt_with_label(*private_key(res[slot]), kPathLabel, group_context,
                                cts[slot].kem_output, cts[slot].ciphertext);
  if (!plain) return fail("update path decryption: ", plain.error());
  Decrypted out{ancestor, to_secret(*plain), {}};
  secure_wipe(plain->data(), plain->size());

  std::vector<std::pair<uint32_t, suite::HpkeKeyPair>> derived;
  SecretBytes secret = out.path_secret;
  for (size_t i = at; i < steps.size(); ++i) {
    Result<suite::HpkeKeyPair> pair = node_key_pair(secret);
    if (!pair) return fail("path secret: ", pair.error());
    if (!same_key(pair->public_key, path.nodes[i].encryption_key)) {
      return fail("update path public key does not match its path secret");
    }
    derived.emplace_back(steps[i].node.value, std::move(*pair));
    secret = next_path_secret(secret);
  }
  out.commit_secret = std::move(secret);

  // The sender's path replaced every node of its direct path; keep only what was derived.
  for (NodeIndex p : tree_math::direct_path(NodeIndex(sender), tree.leaf_count())) {
    node_keys_.erase(p.value);
  }
  for (auto& [node, pair] : derived) node_keys_[node] = std::move(pair);
  prune(tree);
  return out;
}

Result<void> TreePrivate::check(const RatchetTree& tree) const {
  const LeafNode* mine = tree.leaf(leaf_);
  if (mine == nullptr) return fail("member leaf is blank");
  if (!same_key(mine->encryption_key, leaf_key_.public_key)) {
    return fail("leaf private key does not match the tree");
  }
  std::vector<NodeIndex> direct = tree_math::direct_path(NodeIndex(leaf_), tree.leaf_count());
  for (const auto& [node, pair] : node_keys_) {
    if (std::find(direct.begin(), direct.end(), NodeIndex(node)) == direct.end()) {
      return fail("private key held for node " + std::to_string(node) + " off the path");
    }
    if (tree.parent(NodeIndex(node)) == nullptr ||
        !same_key(tree.encryption_key(NodeIndex(node)), pair.public_key)) {
      return fail("private key does not match node " + std::to_string(node));
    }
  }
  return {};
}

void TreePrivate::prune(const RatchetTree& tree) {
  std::vector<NodeIndex> direct = tree_math::direct_path(NodeIndex(leaf_), tree.leaf_count());
  std::erase_if(node_keys_, [&](const auto& entry) {
    NodeIndex x(entry.first);
    return std::find(direct.begin(), direct.end(), x) == direct.end() ||
           tree.parent(x) == nullptr || !same_key(tree.encryption_key(x), entry.second.public_key);
  });
}

// ---- committing ----

const SecretBytes* PendingPath::path_secret_for(LeafIndex joiner) const {
  NodeIndex committer(private_state.leaf());
  NodeIndex ancestor = tree_math::common_ancestor(NodeIndex(joiner), committer);
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].node == ancestor) return &path_secrets[i];
  }
  return nullptr;
}

Result<PendingPath> start_update_path(RatchetTree& tree, LeafIndex leaf, LeafNode base,
                                      ByteView group_id, ByteView signature_private_key) {
  if (leaf.value >= tree.leaf_count()) return fail("committer leaf outside the tree");
  PendingPath out;
  out.steps = tree.filtered_path(leaf);

  // The leaf secret seeds both the leaf key and the chain of path secrets.
  SecretBytes leaf_secret = crypto::random_secret(kHashSize);
  Result<suite::HpkeKeyPair> leaf_pair = node_key_pair(leaf_secret);
  if (!leaf_pair) return fail("leaf key: ", leaf_pair.error());

  std::vector<suite::HpkeKeyPair> pairs;
  SecretBytes secret = next_path_secret(leaf_secret);
  for (size_t i = 0; i < out.steps.size(); ++i) {
    Result<suite::HpkeKeyPair> pair = node_key_pair(secret);
    if (!pair) return fail("path key: ", pair.error());
    out.public_keys.push_back(pair->public_key);
    pairs.push_back(std::move(*pair));
    SecretBytes next = next_path_secret(secret);
    out.path_secrets.push_back(std::move(secret));
    secret = std::move(next);
  }
  // With no parent on the path the leaf secret stands in as the last path secret.
  out.commit_secret = out.steps.empty() ? next_path_secret(leaf_secret) : std::move(secret);

  Bytes leaf_parent_hash;
  std::vector<Bytes> fields = tree.path_parent_hashes(out.steps, out.public_keys, leaf_parent_hash);
  base.encryption_key = leaf_pair->public_key;
  base.source = CommitSource{std::move(leaf_parent_hash)};
  if (Result<void> s = sign_leaf_node(base, group_id, leaf, signature_private_key); !s) {
    return std::unexpected(s.error());
  }
  out.leaf_node = base;

  out.private_state.leaf_ = leaf;
  out.private_state.leaf_key_ = std::move(*leaf_pair);
  for (size_t i = 0; i < out.steps.size(); ++i) {
    out.private_state.node_keys_[out.steps[i].node.value] = std::move(pairs[i]);
  }
  tree.set_path(leaf, out.steps, out.public_keys, std::move(fields), std::move(base));
  return out;
}

Result<UpdatePath> encrypt_update_path(const RatchetTree& tree, const PendingPath& pending,
                                       ByteView group_context,
                                       std::span<const LeafIndex> excluded) {
  UpdatePath path;
  path.leaf_node = pending.leaf_node;
  path.nodes.reserve(pending.steps.size());
  for (size_t i = 0; i < pending.steps.size(); ++i) {
    UpdatePathNode node;
    node.encryption_key = pending.public_keys[i];
    for (NodeIndex r : tree.resolution(pending.steps[i].copath_child, excluded)) {
      Result<HpkeCiphertext> ct = suite::encrypt_with_label(tree.encryption_key(r), kPathLabel,
                                                            group_context, pending.path_secrets[i]);
      if (!ct) return fail("update path encryption: ", ct.error());
      node.encrypted_path_secret.push_back(std::move(*ct));
    }
    path.nodes.push_back(std::move(node));
  }
  return path;
}

void TreePrivate::encode(TlsWriter& w) const {
  w.u32(leaf_.value);
  w.opaque(leaf_key_.private_key);
  w.opaque(leaf_key_.public_key);
  w.vec([&](TlsWriter& v) {
    for (const auto& [index, pair] : node_keys_) {
      v.u32(index);
      v.opaque(pair.private_key);
      v.opaque(pair.public_key);
    }
  });
}

TreePrivate TreePrivate::decode(TlsReader& r) {
  TreePrivate t;
  t.leaf_ = LeafIndex(r.u32());
  t.leaf_key_.private_key = to_secret(r.opaque_view());
  t.leaf_key_.public_key = r.opaque();
  r.for_each_in_vec([&](TlsReader& v) {
    uint32_t index = v.u32();
    suite::HpkeKeyPair& pair = t.node_keys_[index];
    pair.private_key = to_secret(v.opaque_view());
    pair.public_key = v.opaque();
  });
  return t;
}

}  // namespace zerv::mls
