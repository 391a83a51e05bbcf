#pragma once
// Message framing: the content a member sends, its authentication data, the public and private
// wire forms, the MLSMessage envelope, and the byte strings that are signed, MACed, hashed into
// the transcript or used as AEAD associated data.

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/codec.h"
#include "mls/engine/commit.h"
#include "mls/engine/group_context.h"
#include "mls/engine/key_package.h"
#include "mls/engine/proposals.h"
#include "mls/engine/welcome.h"

namespace zerv::mls {

namespace wire_format {
inline constexpr uint16_t kPublicMessage = 1;
inline constexpr uint16_t kPrivateMessage = 2;
inline constexpr uint16_t kWelcome = 3;
inline constexpr uint16_t kGroupInfo = 4;
inline constexpr uint16_t kKeyPackage = 5;
}  // namespace wire_format

namespace content_type {
inline constexpr uint8_t kApplication = 1;
inline constexpr uint8_t kProposal = 2;
inline constexpr uint8_t kCommit = 3;
}  // namespace content_type

namespace sender_type {
inline constexpr uint8_t kMember = 1;
inline constexpr uint8_t kExternal = 2;
inline constexpr uint8_t kNewMemberProposal = 3;
inline constexpr uint8_t kNewMemberCommit = 4;
}  // namespace sender_type

struct MemberSender {
  uint32_t leaf_index = 0;
  bool operator==(const MemberSender&) const = default;
};

// Index into the group's external_senders extension.
struct ExternalSenderIndex {
  uint32_t sender_index = 0;
  bool operator==(const ExternalSenderIndex&) const = default;
};

struct NewMemberProposalSender {
  bool operator==(const NewMemberProposalSender&) const = default;
};

struct NewMemberCommitSender {
  bool operator==(const NewMemberCommitSender&) const = default;
};

struct Sender {
  std::variant<MemberSender, ExternalSenderIndex, NewMemberProposalSender, NewMemberCommitSender>
      content;

  static Sender member(uint32_t leaf_index) { return {MemberSender{leaf_index}}; }
  // The sender_type on the wire (the variant index plus one).
  uint8_t type() const { return static_cast<uint8_t>(content.index() + 1); }
  // The leaf index of a member sender.
  std::optional<uint32_t> leaf_index() const;

  void encode(TlsWriter& w) const;
  static Sender decode(TlsReader& r);
  bool operator==(const Sender&) const = default;
};

// application_data, a proposal or a commit, according to content_type.
using ContentBody = std::variant<Bytes, Proposal, Commit>;

uint8_t content_type_of(const ContentBody& body);
void encode_content_body(TlsWriter& w, const ContentBody& body);
ContentBody decode_content_body(TlsReader& r, uint8_t content_type);

struct FramedContent {
  Bytes group_id;
  uint64_t epoch = 0;
  Sender sender;
  Bytes authenticated_data;
  ContentBody body;

  uint8_t content_type() const { return content_type_of(body); }

  void encode(TlsWriter& w) const;
  static FramedContent decode(TlsReader& r);
  bool operator==(const FramedContent&) const = default;
};

struct FramedContentAuthData {
  Bytes signature;
  Bytes confirmation_tag;  // on the wire only for commit content; empty otherwise

  void encode(TlsWriter& w, uint8_t content_type) const;
  static FramedContentAuthData decode(TlsReader& r, uint8_t content_type);
  bool operator==(const FramedContentAuthData&) const = default;
};

struct AuthenticatedContent {
  uint16_t wire_format = 0;
  FramedContent content;
  FramedContentAuthData auth;

  void encode(TlsWriter& w) const;
  static AuthenticatedContent decode(TlsReader& r);
  bool operator==(const AuthenticatedContent&) const = default;
};

// ProposalRef = RefHash("MLS 1.0 Proposal Reference", AuthenticatedContent) of the message that
// carried the proposal.
ProposalRef make_proposal_ref(const AuthenticatedContent& content);

// FramedContentTBS, the input of the "FramedContentTBS" signature. The group context is included
// only for member and new_member_commit senders; for others it is ignored.
Bytes framed_content_tbs(uint16_t wire_format, const FramedContent& content,
                         const GroupContext& context);

// AuthenticatedContentTBM = FramedContentTBS || auth, the input of the membership tag.
Bytes authenticated_content_tbm(const AuthenticatedContent& content, const GroupContext& context);

// ConfirmedTranscriptHashInput = wire_format || content || signature<V> (commit content).
Bytes confirmed_transcript_hash_input(const AuthenticatedContent& content);
// InterimTranscriptHashInput = confirmation_tag<V>.
Bytes interim_transcript_hash_input(ByteView confirmation_tag);

struct PublicMessage {
  FramedContent content;
  FramedContentAuthData auth;
  Bytes membership_tag;  // on the wire only for member senders; empty otherwise

  AuthenticatedContent authenticated_content() const {
    return {wire_format::kPublicMessage, content, auth};
  }

  void encode(TlsWriter& w) const;
  static PublicMessage decode(TlsReader& r);
  bool operator==(const PublicMessage&) const = default;
};

struct PrivateMessage {
  Bytes group_id;
  uint64_t epoch = 0;
  uint8_t content_type = 0;
  Bytes authenticated_data;
  Bytes encrypted_sender_data;
  Bytes ciphertext;

  void encode(TlsWriter& w) const;
  static PrivateMessage decode(TlsReader& r);
  bool operator==(const PrivateMessage&) const = default;
};

// The plaintext of PrivateMessage.ciphertext: body, auth, then zero padding.
struct PrivateMessageContent {
  ContentBody body;
  FramedContentAuthData auth;

  Bytes encode(size_t padding) const;
  // Rejects padding with any non-zero byte, and a body of another content type.
  static Result<PrivateMessageContent> decode(ByteView plaintext, uint8_t content_type);
  bool operator==(const PrivateMessageContent&) const = default;
};

struct SenderData {
  uint32_t leaf_index = 0;
  uint32_t generation = 0;
  std::array<uint8_t, 4> reuse_guard{};

  void encode(TlsWriter& w) const;
  static SenderData decode(TlsReader& r);
  bool operator==(const SenderData&) const = default;
};

// SenderDataAAD and PrivateContentAAD, the associated data of the two private-message AEADs.
Bytes sender_data_aad(ByteView group_id, uint64_t epoch, uint8_t content_type);
Bytes private_content_aad(ByteView group_id, uint64_t epoch, uint8_t content_type,
                          ByteView authenticated_data);

struct MLSMessage {
  uint16_t version = kProtocolVersion;
  std::variant<PublicMessage, PrivateMessage, Welcome, GroupInfo, KeyPackage> content;

  // The wire_format on the wire (the variant index plus one).
  uint16_t wire_format() const { return static_cast<uint16_t>(content.index() + 1); }

  void encode(TlsWriter& w) const;
  static MLSMessage decode(TlsReader& r);
  bool operator==(const MLSMessage&) const = default;
};

}  // namespace zerv::mls
