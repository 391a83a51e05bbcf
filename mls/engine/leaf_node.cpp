#include "mls/engine/leaf_node.h"

#include <string>

namespace zerv::mls {

uint8_t LeafNode::source_type() const {
  switch (source.index()) {
    case 0:
      return leaf_node_source::kKeyPackage;
    case 1:
      return leaf_node_source::kUpdate;
    default:
      return leaf_node_source::kCommit;
  }
}

const Bytes* LeafNode::parent_hash() const {
  const auto* commit = std::get_if<CommitSource>(&source);
  return commit != nullptr ? &commit->parent_hash : nullptr;
}

void LeafNode::encode_content(TlsWriter& w) const {
  w.opaque(encryption_key);
  w.opaque(signature_key);
  credential.encode(w);
  capabilities.encode(w);
  w.u8(source_type());
  if (const Lifetime* l = lifetime()) l->encode(w);
  if (const Bytes* ph = parent_hash()) w.opaque(*ph);
  encode_extensions(w, extensions);
}

Bytes LeafNode::to_be_signed(ByteView group_id, uint32_t leaf_index) const {
  TlsWriter w;
  encode_content(w);
  if (source_type() != leaf_node_source::kKeyPackage) {
    w.opaque(group_id);
    w.u32(leaf_index);
  }
  return w.take();
}

void LeafNode::encode(TlsWriter& w) const {
  encode_content(w);
  w.opaque(signature);
}

LeafNode LeafNode::decode(TlsReader& r) {
  LeafNode n;
  n.encryption_key = r.opaque();
  n.signature_key = r.opaque();
  n.credential = Credential::decode(r);
  n.capabilities = Capabilities::decode(r);
  uint8_t source = r.u8();
  if (!r.ok()) return n;
  switch (source) {
    case leaf_node_source::kKeyPackage:
      n.source = Lifetime::decode(r);
      break;
    case leaf_node_source::kUpdate:
      n.source = UpdateSource{};
      break;
    case leaf_node_source::kCommit:
      n.source = CommitSource{r.opaque()};
      break;
    default:
      r.fail("invalid leaf node source " + std::to_string(source));
      return n;
  }
  n.extensions = decode_extensions(r);
  n.signature = r.opaque();
  return n;
}

void ParentNode::encode(TlsWriter& w) const {
  w.opaque(encryption_key);
  w.opaque(parent_hash);
  encode_u32_vec(w, unmerged_leaves);
}

ParentNode ParentNode::decode(TlsReader& r) {
  ParentNode p;
  p.encryption_key = r.opaque();
  p.parent_hash = r.opaque();
  p.unmerged_leaves = decode_u32_vec(r);
  return p;
}

void Node::encode(TlsWriter& w) const {
  w.u8(type());
  std::visit([&](const auto& n) { n.encode(w); }, content);
}

Node Node::decode(TlsReader& r) {
  uint8_t type = r.u8();
  if (!r.ok()) return {};
  switch (type) {
    case node_type::kLeaf:
      return {LeafNode::decode(r)};
    case node_type::kParent:
      return {ParentNode::decode(r)};
    default:
      r.fail("invalid node type " + std::to_string(type));
      return {};
  }
}

void encode_ratchet_tree(TlsWriter& w, std::span<const std::optional<Node>> nodes) {
  w.vec([&](TlsWriter& inner) {
    for (const auto& node : nodes) encode_optional(inner, node);
  });
}

std::vector<std::optional<Node>> decode_ratchet_tree(TlsReader& r) {
  std::vector<std::optional<Node>> nodes;
  r.for_each_in_vec([&](TlsReader& sub) {
    std::optional<Node> node = decode_optional<Node>(sub);
    if (sub.ok()) nodes.push_back(std::move(node));
  });
  return nodes;
}

Bytes encode_ratchet_tree(std::span<const std::optional<Node>> nodes) {
  TlsWriter w;
  encode_ratchet_tree(w, nodes);
  return w.take();
}

Result<std::vector<std::optional<Node>>> decode_ratchet_tree(ByteView data) {
  TlsReader r(data);
  auto nodes = decode_ratchet_tree(r);
  if (!r.finish()) return fail(r.error());
  return nodes;
}

}  // namespace zerv::mls
