#include "mls/engine/commit.h"

namespace zerv::mls {

void encode_hpke_ciphertext(TlsWriter& w, const HpkeCiphertext& ct) {
  w.opaque(ct.kem_output);
  w.opaque(ct.ciphertext);
}

HpkeCiphertext decode_hpke_ciphertext(TlsReader& r) {
  HpkeCiphertext ct;
  ct.kem_output = r.opaque();
  ct.ciphertext = r.opaque();
  return ct;
}

void UpdatePathNode::encode(TlsWriter& w) const {
  w.opaque(encryption_key);
  w.vec([&](TlsWriter& inner) {
    for (const HpkeCiphertext& ct : encrypted_path_secret) encode_hpke_ciphertext(inner, ct);
  });
}

UpdatePathNode UpdatePathNode::decode(TlsReader& r) {
  UpdatePathNode n;
  n.encryption_key = r.opaque();
  r.for_each_in_vec([&](TlsReader& sub) {
    HpkeCiphertext ct = decode_hpke_ciphertext(sub);
    if (sub.ok()) n.encrypted_path_secret.push_back(std::move(ct));
  });
  return n;
}

void UpdatePath::encode(TlsWriter& w) const {
  leaf_node.encode(w);
  encode_vec(w, nodes);
}

UpdatePath UpdatePath::decode(TlsReader& r) {
  UpdatePath p;
  p.leaf_node = LeafNode::decode(r);
  p.nodes = decode_vec<UpdatePathNode>(r);
  return p;
}

void Commit::encode(TlsWriter& w) const {
  encode_vec(w, proposals);
  encode_optional(w, path);
}

Commit Commit::decode(TlsReader& r) {
  Commit c;
  c.proposals = decode_vec<ProposalOrRef>(r);
  c.path = decode_optional<UpdatePath>(r);
  return c;
}

}  // namespace zerv::mls
