#include "mls/engine/message_protection.h"

#include <algorithm>
#include <utility>

#include "crypto/crypto.h"
#include "mls/engine/codec.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

namespace {

constexpr std::string_view kTbsLabel = "FramedContentTBS";
constexpr size_t kReuseGuardSize = 4;

Result<void> check_group_and_epoch(ByteView group_id, uint64_t epoch, const GroupContext& context) {
  if (!std::ranges::equal(group_id, context.group_id)) return fail("message for another group");
  if (epoch != context.epoch) return fail("message for another epoch");
  return {};
}

Result<void> check_signature(const AuthenticatedContent& content, const GroupContext& context,
                             const SignatureKeyLookup& signature_key) {
  std::optional<Bytes> key = signature_key ? signature_key(content.content) : std::nullopt;
  if (!key) return fail("unknown sender");
  if (!verify_content_signature(content, context, *key)) return fail("invalid signature");
  return {};
}

Result<void> check_confirmation_tag(const AuthenticatedContent& content) {
  if (content.content.content_type() == content_type::kCommit &&
      content.auth.confirmation_tag.size() != kHashSize) {
    return fail("commit without confirmation tag");
  }
  return {};
}

// The content nonce: the ratchet nonce with the reuse guard XORed into its first bytes.
SecretBytes guarded_nonce(const SecretBytes& nonce, const std::array<uint8_t, 4>& guard) {
  SecretBytes out = nonce;
  for (size_t i = 0; i < kReuseGuardSize; ++i) out[i] ^= guard[i];
  return out;
}

}  // namespace

Result<AuthenticatedContent> sign_content(uint16_t wire_format, FramedContent content,
                                          const GroupContext& context,
                                          ByteView signature_private_key) {
  AuthenticatedContent out{wire_format, std::move(content), {}};
  Result<Bytes> signature = suite::sign_with_label(
      signature_private_key, kTbsLabel, framed_content_tbs(wire_format, out.content, context));
  if (!signature) return fail("sign content: ", signature.error());
  out.auth.signature = std::move(*signature);
  return out;
}

bool verify_content_signature(const AuthenticatedContent& content, const GroupContext& context,
                              ByteView signature_public_key) {
  return suite::verify_with_label(signature_public_key, kTbsLabel,
                                  framed_content_tbs(content.wire_format, content.content, context),
                                  content.auth.signature);
}

Result<PublicMessage> protect_public(const AuthenticatedContent& content,
                                     const GroupContext& context, ByteView membership_key) {
  if (content.wire_format != wire_format::kPublicMessage) {
    return fail("content not signed for a public message");
  }
  if (content.content.content_type() == content_type::kApplication) {
    return fail("application data must be sent as a private message");
  }
  if (auto ok = check_confirmation_tag(content); !ok) return std::unexpected(ok.error());
  PublicMessage out{content.content, content.auth, {}};
  if (content.content.sender.type() == sender_type::kMember) {
    out.membership_tag = suite::mac(membership_key, authenticated_content_tbm(content, context));
  }
  return out;
}

Result<AuthenticatedContent> unprotect_public(const PublicMessage& message,
                                              const GroupContext& context, ByteView membership_key,
                                              const SignatureKeyLookup& signature_key) {
  if (auto ok = check_group_and_epoch(message.content.group_id, message.content.epoch, context);
      !ok) {
    return std::unexpected(ok.error());
  }
  if (message.content.content_type() == content_type::kApplication) {
    return fail("application data in a public message");
  }
  AuthenticatedContent content = message.authenticated_content();
  if (content.content.sender.type() == sender_type::kMember) {
    const Bytes tag = suite::mac(membership_key, authenticated_content_tbm(content, context));
    if (!equal_ct(tag, message.membership_tag)) return fail("invalid membership tag");
  }
  if (auto ok = check_signature(content, context, signature_key); !ok) {
    return std::unexpected(ok.error());
  }
  return content;
}

Result<PrivateMessage> protect_private(const AuthenticatedContent& content, SecretTree& tree,
                                       ByteView sender_data_secret, size_t padding_block) {
  if (content.wire_format != wire_format::kPrivateMessage) {
    return fail("content not signed for a private message");
  }
  const std::optional<uint32_t> leaf = content.content.sender.leaf_index();
  if (!leaf) return fail("private messages are sent by members only");
  if (auto ok = check_confirmation_tag(content); !ok) return std::unexpected(ok.error());

  const uint8_t type = content.content.content_type();
  Result<RatchetKey> key = tree.next_key(LeafIndex(*leaf), ratchet_kind_for(type));
  if (!key) return std::unexpected(key.error());

  SenderData sender{*leaf, key->generation, {}};
  const Bytes guard = crypto::random_bytes(kReuseGuardSize);
  std::copy(guard.begin(), guard.end(), sender.reuse_guard.begin());

  // Encode first without padding to learn how much is needed.
  PrivateMessageContent plain{content.content.body, content.auth};
  size_t padding = 0;
  if (padding_block > 0) {
    const size_t size = plain.encode(0).size();
    padding = (padding_block - size % padding_block) % padding_block;
  }
  const Bytes plaintext = plain.encode(padding);

  PrivateMessage out{content.content.group_id,
                     content.content.epoch,
                     type,
                     content.content.authenticated_data,
                     {},
                     {}};
  Result<Bytes> ciphertext = suite::aead_seal(
      key->key, guarded_nonce(key->nonce, sender.reuse_guard),
      private_content_aad(out.group_id, out.epoch, type, out.authenticated_data), plaintext);
  if (!ciphertext) return fail("encrypt content: ", ciphertext.error());
  out.ciphertext = std::move(*ciphertext);

  const SenderDataKey sd_key = sender_data_key(sender_data_secret, out.ciphertext);
  Result<Bytes> sealed = suite::aead_seal(
      sd_key.key, sd_key.nonce, sender_data_aad(out.group_id, out.epoch, type), encode_one(sender));
  if (!sealed) return fail("encrypt sender data: ", sealed.error());
  out.encrypted_sender_data = std::move(*sealed);
  return out;
}

Result<AuthenticatedContent> unprotect_private(const PrivateMessage& message,
                                               const GroupContext& context, SecretTree& tree,
                                               ByteView sender_data_secret,
                                               const SignatureKeyLookup& signature_key) {
  if (auto ok = check_group_and_epoch(message.group_id, message.epoch, context); !ok) {
    return std::unexpected(ok.error());
  }
  const uint8_t type = message.content_type;
  if (type < content_type::kApplication || type > content_type::kCommit) {
    return fail("invalid content type");
  }

  const SenderDataKey sd_key = sender_data_key(sender_data_secret, message.ciphertext);
  Result<Bytes> sender_bytes = suite::aead_open(
      sd_key.key, sd_key.nonce, sender_data_aad(message.group_id, message.epoch, type),
      message.encrypted_sender_data);
  if (!sender_bytes) return fail("cannot decrypt sender data");
  Result<SenderData> sender = decode_all<SenderData>(*sender_bytes);
  if (!sender) return fail("malformed sender data: ", sender.error());

  const LeafIndex leaf(sender->leaf_index);
  const RatchetKind kind = ratchet_kind_for(type);
  Result<RatchetKey> key = tree.key_for(leaf, kind, sender->generation);
  if (!key) return std::unexpected(key.error());
  Result<Bytes> plaintext = suite::aead_open(
      key->key, guarded_nonce(key->nonce, sender->reuse_guard),
      private_content_aad(message.group_id, message.epoch, type, message.authenticated_data),
      message.ciphertext);
  if (!plaintext) return fail("cannot decrypt content");
  Result<PrivateMessageContent> plain = PrivateMessageContent::decode(*plaintext, type);
  if (!plain) return fail("malformed private content: ", plain.error());

  AuthenticatedContent content{
      wire_format::kPrivateMessage,
      FramedContent{message.group_id, message.epoch, Sender::member(sender->leaf_index),
                    message.authenticated_data, std::move(plain->body)},
      std::move(plain->auth)};
  if (auto ok = check_signature(content, context, signature_key); !ok) {
    return std::unexpected(ok.error());
  }
  tree.consume(leaf, kind, sender->generation);
  return content;
}

}  // namespace zerv::mls
