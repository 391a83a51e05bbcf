#pragma once
// The per-epoch key schedule: from the previous init secret, the commit secret, the PSK secret and
// the new GroupContext to the secrets of the new epoch, plus the values derived from them
// (exporter, welcome key and nonce, external key pair, confirmation tag).

#include <cstddef>
#include <string_view>

#include "base/bytes.h"
#include "base/result.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

// The secrets of one epoch. The epoch secret itself is not kept: everything it is needed for is
// derived at once, so it is released with the derivation.
struct EpochSecrets {
  SecretBytes joiner_secret;   // sent to new members in GroupSecrets
  SecretBytes welcome_secret;  // encrypts the GroupInfo of a Welcome
  SecretBytes sender_data_secret;
  SecretBytes encryption_secret;
  SecretBytes exporter_secret;
  SecretBytes external_secret;
  SecretBytes confirmation_key;
  SecretBytes membership_key;
  SecretBytes resumption_psk;
  SecretBytes epoch_authenticator;
  SecretBytes init_secret;  // the init secret of the next epoch
};

namespace key_schedule {

// joiner_secret = ExpandWithLabel(Extract(init_secret, commit_secret), "joiner", GroupContext, Nh)
SecretBytes joiner_secret(ByteView init_secret, ByteView commit_secret, ByteView group_context);

// The epoch as a member sees it when processing or creating a Commit. group_context is the
// encoded GroupContext of the new epoch; psk_secret is all zero without PSKs.
EpochSecrets advance(ByteView init_secret, ByteView commit_secret, ByteView psk_secret,
                     ByteView group_context);

// The epoch as a new member sees it from a Welcome's joiner_secret.
EpochSecrets from_joiner(ByteView joiner_secret, ByteView psk_secret, ByteView group_context);

// welcome_secret alone, which a joiner needs before it can read the GroupContext.
SecretBytes welcome_secret(ByteView joiner_secret, ByteView psk_secret);

// Key and nonce that encrypt a Welcome's GroupInfo.
struct WelcomeKey {
  SecretBytes key;
  SecretBytes nonce;
};
WelcomeKey welcome_key(ByteView welcome_secret);

// The group's external HPKE key pair, whose public half is published in GroupInfo.
Result<suite::HpkeKeyPair> external_key_pair(ByteView external_secret);

// Largest output of one HKDF expansion with SHA-256.
inline constexpr size_t kMaxExportLength = 255 * kHashSize;

// MLS-Exporter(label, context, length); length must be 1 to kMaxExportLength.
Result<SecretBytes> export_secret(ByteView exporter_secret, std::string_view label,
                                  ByteView context, size_t length);

// confirmation_tag = MAC(confirmation_key, confirmed_transcript_hash)
Bytes confirmation_tag(ByteView confirmation_key, ByteView confirmed_transcript_hash);
// Constant-time check of a received confirmation tag.
bool verify_confirmation_tag(ByteView confirmation_key, ByteView confirmed_transcript_hash,
                             ByteView tag);

}  // namespace key_schedule
}  // namespace zerv::mls
