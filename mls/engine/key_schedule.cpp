#include "mls/engine/key_schedule.h"

#include <string>

namespace zerv::mls::key_schedule {

SecretBytes joiner_secret(ByteView init_secret, ByteView commit_secret, ByteView group_context) {
  const SecretBytes prk = suite::extract(init_secret, commit_secret);
  return suite::expand_with_label(prk, "joiner", group_context, kHashSize);
}

SecretBytes welcome_secret(ByteView joiner_secret, ByteView psk_secret) {
  const SecretBytes member_prk = suite::extract(joiner_secret, psk_secret);
  return suite::derive_secret(member_prk, "welcome");
}

EpochSecrets from_joiner(ByteView joiner_secret, ByteView psk_secret, ByteView group_context) {
  EpochSecrets s;
  s.joiner_secret = to_secret(joiner_secret);
  const SecretBytes member_prk = suite::extract(joiner_secret, psk_secret);
  s.welcome_secret = suite::derive_secret(member_prk, "welcome");
  const SecretBytes epoch_secret =
      suite::expand_with_label(member_prk, "epoch", group_context, kHashSize);
  s.sender_data_secret = suite::derive_secret(epoch_secret, "sender data");
  s.encryption_secret = suite::derive_secret(epoch_secret, "encryption");
  s.exporter_secret = suite::derive_secret(epoch_secret, "exporter");
  s.external_secret = suite::derive_secret(epoch_secret, "external");
  s.confirmation_key = suite::derive_secret(epoch_secret, "confirm");
  s.membership_key = suite::derive_secret(epoch_secret, "membership");
  s.resumption_psk = suite::derive_secret(epoch_secret, "resumption");
  s.epoch_authenticator = suite::derive_secret(epoch_secret, "authentication");
  s.init_secret = suite::derive_secret(epoch_secret, "init");
  return s;
}

EpochSecrets advance(ByteView init_secret, ByteView commit_secret, ByteView psk_secret,
                     ByteView group_context) {
  const SecretBytes joiner = joiner_secret(init_secret, commit_secret, group_context);
  return from_joiner(joiner, psk_secret, group_context);
}

WelcomeKey welcome_key(ByteView welcome_secret) {
  return {suite::expand_with_label(welcome_secret, "key", {}, kKeySize),
          suite::expand_with_label(welcome_secret, "nonce", {}, kNonceSize)};
}

Result<suite::HpkeKeyPair> external_key_pair(ByteView external_secret) {
  return suite::derive_key_pair(external_secret);
}

Result<SecretBytes> export_secret(ByteView exporter_secret, std::string_view label,
                                  ByteView context, size_t length) {
  if (length == 0 || length > kMaxExportLength) {
    return fail("exporter length must be 1 to " + std::to_string(kMaxExportLength));
  }
  const SecretBytes derived = suite::derive_secret(exporter_secret, label);
  return suite::expand_with_label(derived, "exported", suite::hash(context), length);
}

Bytes confirmation_tag(ByteView confirmation_key, ByteView confirmed_transcript_hash) {
  return suite::mac(confirmation_key, confirmed_transcript_hash);
}

bool verify_confirmation_tag(ByteView confirmation_key, ByteView confirmed_transcript_hash,
                             ByteView tag) {
  return equal_ct(confirmation_tag(confirmation_key, confirmed_transcript_hash), tag);
}

}  // namespace zerv::mls::key_schedule
