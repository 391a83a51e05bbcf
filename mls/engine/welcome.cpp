#include "mls/engine/welcome.h"

#include <algorithm>

#include "mls/engine/commit.h"

namespace zerv::mls {

void GroupInfo::encode_content(TlsWriter& w) const {
  group_context.encode(w);
  encode_extensions(w, extensions);
  w.opaque(confirmation_tag);
  w.u32(signer);
}

Bytes GroupInfo::to_be_signed() const {
  TlsWriter w;
  encode_content(w);
  return w.take();
}

void GroupInfo::encode(TlsWriter& w) const {
  encode_content(w);
  w.opaque(signature);
}

GroupInfo GroupInfo::decode(TlsReader& r) {
  GroupInfo g;
  g.group_context = GroupContext::decode(r);
  g.extensions = decode_extensions(r);
  g.confirmation_tag = r.opaque();
  g.signer = r.u32();
  g.signature = r.opaque();
  return g;
}

void GroupSecrets::encode(TlsWriter& w) const {
  w.opaque(joiner_secret);
  encode_optional(w, path_secret);
  encode_vec(w, psks);
}

GroupSecrets GroupSecrets::decode(TlsReader& r) {
  GroupSecrets s;
  s.joiner_secret = to_secret(r.opaque_view());
  s.path_secret = decode_optional<PathSecret>(r);
  s.psks = decode_vec<PreSharedKeyID>(r);
  return s;
}

void EncryptedGroupSecrets::encode(TlsWriter& w) const {
  w.opaque(new_member);
  encode_hpke_ciphertext(w, encrypted_group_secrets);
}

EncryptedGroupSecrets EncryptedGroupSecrets::decode(TlsReader& r) {
  EncryptedGroupSecrets e;
  e.new_member = r.opaque();
  e.encrypted_group_secrets = decode_hpke_ciphertext(r);
  return e;
}

const EncryptedGroupSecrets* Welcome::find_secrets(ByteView key_package_ref) const {
  auto it = std::find_if(secrets.begin(), secrets.end(), [&](const EncryptedGroupSecrets& e) {
    return std::ranges::equal(e.new_member, key_package_ref);
  });
  return it == secrets.end() ? nullptr : &*it;
}

void Welcome::encode(TlsWriter& w) const {
  w.u16(cipher_suite);
  encode_vec(w, secrets);
  w.opaque(encrypted_group_info);
}

Welcome Welcome::decode(TlsReader& r) {
  Welcome m;
  m.cipher_suite = r.u16();
  m.secrets = decode_vec<EncryptedGroupSecrets>(r);
  m.encrypted_group_info = r.opaque();
  return m;
}

}  // namespace zerv::mls
