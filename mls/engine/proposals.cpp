#include "mls/engine/proposals.h"

#include <string>

namespace zerv::mls {

bool is_default_proposal_type(uint16_t type) {
  return type >= proposal_type::kAdd && type <= proposal_type::kGroupContextExtensions;
}

void PreSharedKeyID::encode(TlsWriter& w) const {
  w.u8(type());
  if (const auto* ext = std::get_if<ExternalPskId>(&psk)) {
    w.opaque(ext->psk_id);
  } else {
    const auto& res = std::get<ResumptionPskId>(psk);
    w.u8(res.usage);
    w.opaque(res.psk_group_id);
    w.u64(res.psk_epoch);
  }
  w.opaque(psk_nonce);
}

PreSharedKeyID PreSharedKeyID::decode(TlsReader& r) {
  PreSharedKeyID id;
  uint8_t type = r.u8();
  if (!r.ok()) return id;
  switch (type) {
    case psk_type::kExternal:
      id.psk = ExternalPskId{r.opaque()};
      break;
    case psk_type::kResumption: {
      ResumptionPskId res;
      res.usage = r.u8();
      if (r.ok() && (res.usage < resumption_psk_usage::kApplication ||
                     res.usage > resumption_psk_usage::kBranch)) {
        r.fail("invalid resumption PSK usage " + std::to_string(res.usage));
        return id;
      }
      res.psk_group_id = r.opaque();
      res.psk_epoch = r.u64();
      id.psk = std::move(res);
      break;
    }
    default:
      r.fail("invalid PSK type " + std::to_string(type));
      return id;
  }
  id.psk_nonce = r.opaque();
  return id;
}

void ReInit::encode(TlsWriter& w) const {
  w.opaque(group_id);
  w.u16(version);
  w.u16(cipher_suite);
  encode_extensions(w, extensions);
}

ReInit ReInit::decode(TlsReader& r) {
  ReInit p;
  p.group_id = r.opaque();
  p.version = r.u16();
  p.cipher_suite = r.u16();
  p.extensions = decode_extensions(r);
  return p;
}

void Proposal::encode(TlsWriter& w) const {
  w.u16(type());
  std::visit([&](const auto& p) { p.encode(w); }, content);
}

Proposal Proposal::decode(TlsReader& r) {
  uint16_t type = r.u16();
  if (!r.ok()) return {};
  switch (type) {
    case proposal_type::kAdd:
      return {Add::decode(r)};
    case proposal_type::kUpdate:
      return {Update::decode(r)};
    case proposal_type::kRemove:
      return {Remove::decode(r)};
    case proposal_type::kPsk:
      return {PreSharedKey::decode(r)};
    case proposal_type::kReInit:
      return {ReInit::decode(r)};
    case proposal_type::kExternalInit:
      return {ExternalInit::decode(r)};
    case proposal_type::kGroupContextExtensions:
      return {GroupContextExtensions::decode(r)};
    default:
      r.fail("unsupported proposal type " + std::to_string(type));
      return {};
  }
}

void ProposalOrRef::encode(TlsWriter& w) const {
  if (const Proposal* p = proposal()) {
    w.u8(proposal_or_ref_type::kProposal);
    p->encode(w);
  } else {
    w.u8(proposal_or_ref_type::kReference);
    w.opaque(*reference());
  }
}

ProposalOrRef ProposalOrRef::decode(TlsReader& r) {
  uint8_t type = r.u8();
  if (!r.ok()) return {};
  switch (type) {
    case proposal_or_ref_type::kProposal:
      return {Proposal::decode(r)};
    case proposal_or_ref_type::kReference:
      return {ProposalRef(r.opaque())};
    default:
      r.fail("invalid proposal-or-reference type " + std::to_string(type));
      return {};
  }
}

}  // namespace zerv::mls
