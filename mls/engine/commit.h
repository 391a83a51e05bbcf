#pragma once
// Commit and its UpdatePath: the new leaf and, for each filtered direct-path node, a fresh public
// key with the path secret encrypted to that node's copath resolution.

#include <optional>
#include <vector>

#include "base/bytes.h"
#include "mls/engine/codec.h"
#include "mls/engine/leaf_node.h"
#include "mls/engine/proposals.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

// HPKECiphertext {kem_output<V>, ciphertext<V>}; the struct itself lives with the cipher suite.
void encode_hpke_ciphertext(TlsWriter& w, const HpkeCiphertext& ct);
HpkeCiphertext decode_hpke_ciphertext(TlsReader& r);

struct UpdatePathNode {
  Bytes encryption_key;  // HPKE public key
  std::vector<HpkeCiphertext> encrypted_path_secret;

  void encode(TlsWriter& w) const;
  static UpdatePathNode decode(TlsReader& r);
  bool operator==(const UpdatePathNode&) const = default;
};

struct UpdatePath {
  LeafNode leaf_node;
  std::vector<UpdatePathNode> nodes;

  void encode(TlsWriter& w) const;
  static UpdatePath decode(TlsReader& r);
  bool operator==(const UpdatePath&) const = default;
};

struct Commit {
  std::vector<ProposalOrRef> proposals;
  std::optional<UpdatePath> path;

  void encode(TlsWriter& w) const;
  static Commit decode(TlsReader& r);
  bool operator==(const Commit&) const = default;
};

}  // namespace zerv::mls
