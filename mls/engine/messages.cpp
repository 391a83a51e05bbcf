#include "mls/engine/messages.h"

#include <algorithm>
#include <string>

#include "mls/engine/suite.h"

namespace zerv::mls {

std::optional<uint32_t> Sender::leaf_index() const {
  if (const auto* m = std::get_if<MemberSender>(&content)) return m->leaf_index;
  return std::nullopt;
}

void Sender::encode(TlsWriter& w) const {
  w.u8(type());
  if (const auto* m = std::get_if<MemberSender>(&content)) w.u32(m->leaf_index);
  if (const auto* e = std::get_if<ExternalSenderIndex>(&content)) w.u32(e->sender_index);
}

Sender Sender::decode(TlsReader& r) {
  uint8_t type = r.u8();
  if (!r.ok()) return {};
  switch (type) {
    case sender_type::kMember:
      return {MemberSender{r.u32()}};
    case sender_type::kExternal:
      return {ExternalSenderIndex{r.u32()}};
    case sender_type::kNewMemberProposal:
      return {NewMemberProposalSender{}};
    case sender_type::kNewMemberCommit:
      return {NewMemberCommitSender{}};
    default:
      r.fail("invalid sender type " + std::to_string(type));
      return {};
  }
}

uint8_t content_type_of(const ContentBody& body) { return static_cast<uint8_t>(body.index() + 1); }

void encode_content_body(TlsWriter& w, const ContentBody& body) {
  if (const auto* data = std::get_if<Bytes>(&body)) {
    w.opaque(*data);
  } else if (const auto* proposal = std::get_if<Proposal>(&body)) {
    proposal->encode(w);
  } else {
    std::get<Commit>(body).encode(w);
  }
}

ContentBody decode_content_body(TlsReader& r, uint8_t type) {
  switch (type) {
    case content_type::kApplication:
      return r.opaque();
    case content_type::kProposal:
      return Proposal::decode(r);
    case content_type::kCommit:
      return Commit::decode(r);
    default:
      r.fail("invalid content type " + std::to_string(type));
      return {};
  }
}

void FramedContent::encode(TlsWriter& w) const {
  w.opaque(group_id);
  w.u64(epoch);
  sender.encode(w);
  w.opaque(authenticated_data);
  w.u8(content_type());
  encode_content_body(w, body);
}

FramedContent FramedContent::decode(TlsReader& r) {
  FramedContent c;
  c.group_id = r.opaque();
  c.epoch = r.u64();
  c.sender = Sender::decode(r);
  c.authenticated_data = r.opaque();
  uint8_t type = r.u8();
  if (!r.ok()) return c;
  c.body = decode_content_body(r, type);
  return c;
}

void FramedContentAuthData::encode(TlsWriter& w, uint8_t content_type) const {
  w.opaque(signature);
  if (content_type == content_type::kCommit) w.opaque(confirmation_tag);
}

FramedContentAuthData FramedContentAuthData::decode(TlsReader& r, uint8_t content_type) {
  FramedContentAuthData a;
  a.signature = r.opaque();
  if (content_type == content_type::kCommit) a.confirmation_tag = r.opaque();
  return a;
}

void AuthenticatedContent::encode(TlsWriter& w) const {
  w.u16(wire_format);
  content.encode(w);
  auth.encode(w, content.content_type());
}

AuthenticatedContent AuthenticatedContent::decode(TlsReader& r) {
  AuthenticatedContent a;
  a.wire_format = r.u16();
  a.content = FramedContent::decode(r);
  if (!r.ok()) return a;
  a.auth = FramedContentAuthData::decode(r, a.content.content_type());
  return a;
}

ProposalRef make_proposal_ref(const AuthenticatedContent& content) {
  return suite::ref_hash("MLS 1.0 Proposal Reference", encode_one(content));
}

namespace {

void encode_framed_content_tbs(TlsWriter& w, uint16_t wire_format, const FramedContent& content,
                               const GroupContext& context) {
  w.u16(kProtocolVersion);
  w.u16(wire_format);
  content.encode(w);
  uint8_t type = content.sender.type();
  if (type == sender_type::kMember || type == sender_type::kNewMemberCommit) context.encode(w);
}

}  // namespace

Bytes framed_content_tbs(uint16_t wire_format, const FramedContent& content,
                         const GroupContext& context) {
  TlsWriter w;
  encode_framed_content_tbs(w, wire_format, content, context);
  return w.take();
}

Bytes authenticated_content_tbm(const AuthenticatedContent& content, const GroupContext& context) {
  TlsWriter w;
  encode_framed_content_tbs(w, content.wire_format, content.content, context);
  content.auth.encode(w, content.content.content_type());
  return w.take();
}

Bytes confirmed_transcript_hash_input(const AuthenticatedContent& content) {
  TlsWriter w;
  w.u16(content.wire_format);
  content.content.encode(w);
  w.opaque(content.auth.signature);
  return w.take();
}

Bytes interim_transcript_hash_input(ByteView confirmation_tag) {
  TlsWriter w;
  w.opaque(confirmation_tag);
  return w.take();
}

void PublicMessage::encode(TlsWriter& w) const {
  content.encode(w);
  auth.encode(w, content.content_type());
  if (content.sender.type() == sender_type::kMember) w.opaque(membership_tag);
}

PublicMessage PublicMessage::decode(TlsReader& r) {
  PublicMessage m;
  m.content = FramedContent::decode(r);
  if (!r.ok()) return m;
  m.auth = FramedContentAuthData::decode(r, m.content.content_type());
  if (m.content.sender.type() == sender_type::kMember) m.membership_tag = r.opaque();
  return m;
}

void PrivateMessage::encode(TlsWriter& w) const {
  w.opaque(group_id);
  w.u64(epoch);
  w.u8(content_type);
  w.opaque(authenticated_data);
  w.opaque(encrypted_sender_data);
  w.opaque(ciphertext);
}

PrivateMessage PrivateMessage::decode(TlsReader& r) {
  PrivateMessage m;
  m.group_id = r.opaque();
  m.epoch = r.u64();
  m.content_type = r.u8();
  if (r.ok() &&
      (m.content_type < content_type::kApplication || m.content_type > content_type::kCommit)) {
    r.fail("invalid content type " + std::to_string(m.content_type));
    return m;
  }
  m.authenticated_data = r.opaque();
  m.encrypted_sender_data = r.opaque();
  m.ciphertext = r.opaque();
  return m;
}

Bytes PrivateMessageContent::encode(size_t padding) const {
  TlsWriter w;
  encode_content_body(w, body);
  auth.encode(w, content_type_of(body));
  Bytes out = w.take();
  out.resize(out.size() + padding, 0);
  return out;
}

Result<PrivateMessageContent> PrivateMessageContent::decode(ByteView plaintext,
                                                            uint8_t content_type) {
  TlsReader r(plaintext);
  PrivateMessageContent c;
  c.body = decode_content_body(r, content_type);
  if (r.ok()) c.auth = FramedContentAuthData::decode(r, content_type);
  if (!r.ok()) return fail(r.error());
  ByteView padding = plaintext.subspan(r.position());
  if (std::ranges::any_of(padding, [](uint8_t b) { return b != 0; })) {
    return fail("non-zero padding in private message content");
  }
  return c;
}

void SenderData::encode(TlsWriter& w) const {
  w.u32(leaf_index);
  w.u32(generation);
  w.raw(reuse_guard);
}

SenderData SenderData::decode(TlsReader& r) {
  SenderData d;
  d.leaf_index = r.u32();
  d.generation = r.u32();
  ByteView guard = r.raw(d.reuse_guard.size());
  if (r.ok()) std::ranges::copy(guard, d.reuse_guard.begin());
  return d;
}

Bytes sender_data_aad(ByteView group_id, uint64_t epoch, uint8_t content_type) {
  TlsWriter w;
  w.opaque(group_id);
  w.u64(epoch);
  w.u8(content_type);
  return w.take();
}

Bytes private_content_aad(ByteView group_id, uint64_t epoch, uint8_t content_type,
                          ByteView authenticated_data) {
  TlsWriter w;
  w.opaque(group_id);
  w.u64(epoch);
  w.u8(content_type);
  w.opaque(authenticated_data);
  return w.take();
}

void MLSMessage::encode(TlsWriter& w) const {
  w.u16(version);
  w.u16(wire_format());
  std::visit([&](const auto& m) { m.encode(w); }, content);
}

MLSMessage MLSMessage::decode(TlsReader& r) {
  MLSMessage m;
  m.version = r.u16();
  uint16_t format = r.u16();
  if (!r.ok()) return m;
  switch (format) {
    case wire_format::kPublicMessage:
      m.content = PublicMessage::decode(r);
      break;
    case wire_format::kPrivateMessage:
      m.content = PrivateMessage::decode(r);
      break;
    case wire_format::kWelcome:
      m.content = Welcome::decode(r);
      break;
    case wire_format::kGroupInfo:
      m.content = GroupInfo::decode(r);
      break;
    case wire_format::kKeyPackage:
      m.content = KeyPackage::decode(r);
      break;
    default:
      r.fail("unsupported wire format " + std::to_string(format));
  }
  return m;
}

}  // namespace zerv::mls
