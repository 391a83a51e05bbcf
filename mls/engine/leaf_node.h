#pragma once
// Ratchet tree node contents: signed leaf nodes, parent nodes, and the ratchet_tree extension
// value that lists every node of a tree (blank nodes as absent entries).

#include <cstdint>
#include <span>
#include <optional>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/codec.h"
#include "mls/engine/credential.h"
#include "mls/engine/extension.h"

namespace zerv::mls {

namespace leaf_node_source {
inline constexpr uint8_t kKeyPackage = 1;
inline constexpr uint8_t kUpdate = 2;
inline constexpr uint8_t kCommit = 3;
}  // namespace leaf_node_source

struct UpdateSource {
  bool operator==(const UpdateSource&) const = default;
};

struct CommitSource {
  Bytes parent_hash;
  bool operator==(const CommitSource&) const = default;
};

struct LeafNode {
  Bytes encryption_key;  // HPKE public key
  Bytes signature_key;
  Credential credential;
  Capabilities capabilities;
  // key_package carries a lifetime, update nothing, commit a parent hash.
  std::variant<Lifetime, UpdateSource, CommitSource> source;
  std::vector<Extension> extensions;
  Bytes signature;

  uint8_t source_type() const;
  const Lifetime* lifetime() const { return std::get_if<Lifetime>(&source); }
  const Bytes* parent_hash() const;

  // LeafNodeTBS: every field above the signature, plus group_id and leaf_index for the update and
  // commit sources (ignored for key_package).
  Bytes to_be_signed(ByteView group_id, uint32_t leaf_index) const;

  void encode(TlsWriter& w) const;
  static LeafNode decode(TlsReader& r);
  bool operator==(const LeafNode&) const = default;

 private:
  void encode_content(TlsWriter& w) const;
};

struct ParentNode {
  Bytes encryption_key;  // HPKE public key
  Bytes parent_hash;
  std::vector<uint32_t> unmerged_leaves;  // leaf indices, increasing

  void encode(TlsWriter& w) const;
  static ParentNode decode(TlsReader& r);
  bool operator==(const ParentNode&) const = default;
};

namespace node_type {
inline constexpr uint8_t kLeaf = 1;
inline constexpr uint8_t kParent = 2;
}  // namespace node_type

struct Node {
  std::variant<LeafNode, ParentNode> content;

  uint8_t type() const { return content.index() == 0 ? node_type::kLeaf : node_type::kParent; }
  const LeafNode* leaf() const { return std::get_if<LeafNode>(&content); }
  const ParentNode* parent() const { return std::get_if<ParentNode>(&content); }

  void encode(TlsWriter& w) const;
  static Node decode(TlsReader& r);
  bool operator==(const Node&) const = default;
};

// optional<Node> ratchet_tree<V>: node i of the array-based tree, nullopt for a blank node.
void encode_ratchet_tree(TlsWriter& w, std::span<const std::optional<Node>> nodes);
std::vector<std::optional<Node>> decode_ratchet_tree(TlsReader& r);
Bytes encode_ratchet_tree(std::span<const std::optional<Node>> nodes);
Result<std::vector<std::optional<Node>>> decode_ratchet_tree(ByteView data);

// The ratchet_tree extension, for get_extension / make_extension.
struct RatchetTreeExtension {
  static constexpr uint16_t kType = extension_type::kRatchetTree;
  std::vector<std::optional<Node>> nodes;

  void encode(TlsWriter& w) const { encode_ratchet_tree(w, nodes); }
  static RatchetTreeExtension decode(TlsReader& r) { return {decode_ratchet_tree(r)}; }
  bool operator==(const RatchetTreeExtension&) const = default;
};

}  // namespace zerv::mls
