#pragma once
// Turning AuthenticatedContent into PublicMessage or PrivateMessage and back: signatures over
// FramedContentTBS, membership tags, and the two AEAD layers of private messages.

#include <cstddef>
#include <functional>
#include <optional>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/group_context.h"
#include "mls/engine/messages.h"
#include "mls/engine/secret_tree.h"

namespace zerv::mls {

// The signature public key of the sender of content (for a member, the signature_key of its
// leaf); nullopt when the sender is unknown or its leaf is blank.
using SignatureKeyLookup = std::function<std::optional<Bytes>(const FramedContent& content)>;

// Signs content as it will be sent with wire_format (public or private). The confirmation tag of
// a commit is left empty: it depends on this signature and is filled in by the caller.
Result<AuthenticatedContent> sign_content(uint16_t wire_format, FramedContent content,
                                          const GroupContext& context,
                                          ByteView signature_private_key);

// Verifies the "FramedContentTBS" signature of content.
bool verify_content_signature(const AuthenticatedContent& content, const GroupContext& context,
                              ByteView signature_public_key);

// PublicMessage with the membership tag for member senders. Application data is refused: it
// travels only as a PrivateMessage.
Result<PublicMessage> protect_public(const AuthenticatedContent& content,
                                     const GroupContext& context, ByteView membership_key);

// Checks group and epoch, the membership tag of a member sender and the signature. The
// confirmation tag of a commit is left to the caller, who holds the next epoch's key.
Result<AuthenticatedContent> unprotect_public(const PublicMessage& message,
                                              const GroupContext& context, ByteView membership_key,
                                              const SignatureKeyLookup& signature_key);

// Encrypts content from a member with the next key of its ratchet in tree. The plaintext is
// zero-padded to a multiple of padding_block bytes (0: no padding).
Result<PrivateMessage> protect_private(const AuthenticatedContent& content, SecretTree& tree,
                                       ByteView sender_data_secret, size_t padding_block = 0);

// Decrypts sender data and content, checks the padding and the signature, and only then
// consumes the ratchet key, so a forged message cannot use up a genuine message's key.
Result<AuthenticatedContent> unprotect_private(const PrivateMessage& message,
                                               const GroupContext& context, SecretTree& tree,
                                               ByteView sender_data_secret,
                                               const SignatureKeyLookup& signature_key);

}  // namespace zerv::mls
