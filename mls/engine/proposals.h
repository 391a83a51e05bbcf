#pragma once
// Proposals and the references a Commit uses to cover them, plus PreSharedKeyID.

#include <cstdint>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "mls/engine/codec.h"
#include "mls/engine/extension.h"
#include "mls/engine/key_package.h"
#include "mls/engine/leaf_node.h"

namespace zerv::mls {

namespace proposal_type {
inline constexpr uint16_t kAdd = 1;
inline constexpr uint16_t kUpdate = 2;
inline constexpr uint16_t kRemove = 3;
inline constexpr uint16_t kPsk = 4;
inline constexpr uint16_t kReInit = 5;
inline constexpr uint16_t kExternalInit = 6;
inline constexpr uint16_t kGroupContextExtensions = 7;
}  // namespace proposal_type

// Types every client supports, which capability lists never name.
bool is_default_proposal_type(uint16_t type);

namespace psk_type {
inline constexpr uint8_t kExternal = 1;
inline constexpr uint8_t kResumption = 2;
}  // namespace psk_type

namespace resumption_psk_usage {
inline constexpr uint8_t kApplication = 1;
inline constexpr uint8_t kReInit = 2;
inline constexpr uint8_t kBranch = 3;
}  // namespace resumption_psk_usage

struct ExternalPskId {
  Bytes psk_id;
  bool operator==(const ExternalPskId&) const = default;
};

struct ResumptionPskId {
  uint8_t usage = resumption_psk_usage::kApplication;
  Bytes psk_group_id;
  uint64_t psk_epoch = 0;
  bool operator==(const ResumptionPskId&) const = default;
};

struct PreSharedKeyID {
  std::variant<ExternalPskId, ResumptionPskId> psk;
  Bytes psk_nonce;

  uint8_t type() const { return psk.index() == 0 ? psk_type::kExternal : psk_type::kResumption; }

  void encode(TlsWriter& w) const;
  static PreSharedKeyID decode(TlsReader& r);
  bool operator==(const PreSharedKeyID&) const = default;
};

struct Add {
  KeyPackage key_package;
  void encode(TlsWriter& w) const { key_package.encode(w); }
  static Add decode(TlsReader& r) { return {KeyPackage::decode(r)}; }
  bool operator==(const Add&) const = default;
};

struct Update {
  LeafNode leaf_node;
  void encode(TlsWriter& w) const { leaf_node.encode(w); }
  static Update decode(TlsReader& r) { return {LeafNode::decode(r)}; }
  bool operator==(const Update&) const = default;
};

struct Remove {
  uint32_t removed = 0;  // leaf index
  void encode(TlsWriter& w) const { w.u32(removed); }
  static Remove decode(TlsReader& r) { return {r.u32()}; }
  bool operator==(const Remove&) const = default;
};

struct PreSharedKey {
  PreSharedKeyID psk;
  void encode(TlsWriter& w) const { psk.encode(w); }
  static PreSharedKey decode(TlsReader& r) { return {PreSharedKeyID::decode(r)}; }
  bool operator==(const PreSharedKey&) const = default;
};

struct ReInit {
  Bytes group_id;
  uint16_t version = 0;
  uint16_t cipher_suite = 0;
  std::vector<Extension> extensions;

  void encode(TlsWriter& w) const;
  static ReInit decode(TlsReader& r);
  bool operator==(const ReInit&) const = default;
};

struct ExternalInit {
  Bytes kem_output;
  void encode(TlsWriter& w) const { w.opaque(kem_output); }
  static ExternalInit decode(TlsReader& r) { return {r.opaque()}; }
  bool operator==(const ExternalInit&) const = default;
};

struct GroupContextExtensions {
  std::vector<Extension> extensions;
  void encode(TlsWriter& w) const { encode_extensions(w, extensions); }
  static GroupContextExtensions decode(TlsReader& r) { return {decode_extensions(r)}; }
  bool operator==(const GroupContextExtensions&) const = default;
};

struct Proposal {
  // A proposal's body carries no length, so a type outside this list cannot be skipped: decoding
  // fails with "unsupported proposal type N".
  std::variant<Add, Update, Remove, PreSharedKey, ReInit, ExternalInit, GroupContextExtensions>
      content;

  // The proposal_type on the wire (the variant index plus one).
  uint16_t type() const { return static_cast<uint16_t>(content.index() + 1); }

  void encode(TlsWriter& w) const;
  static Proposal decode(TlsReader& r);
  bool operator==(const Proposal&) const = default;
};

// ProposalRef = RefHash("MLS 1.0 Proposal Reference", AuthenticatedContent)
using ProposalRef = Bytes;

namespace proposal_or_ref_type {
inline constexpr uint8_t kProposal = 1;
inline constexpr uint8_t kReference = 2;
}  // namespace proposal_or_ref_type

struct ProposalOrRef {
  std::variant<Proposal, ProposalRef> content;

  const Proposal* proposal() const { return std::get_if<Proposal>(&content); }
  const ProposalRef* reference() const { return std::get_if<ProposalRef>(&content); }

  void encode(TlsWriter& w) const;
  static ProposalOrRef decode(TlsReader& r);
  bool operator==(const ProposalOrRef&) const = default;
};

}  // namespace zerv::mls
