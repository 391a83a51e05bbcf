#include "mls/engine/extension.h"

#include <algorithm>

namespace zerv::mls {

bool is_default_extension_type(uint16_t type) {
  return type >= extension_type::kApplicationId && type <= extension_type::kExternalSenders;
}

void Extension::encode(TlsWriter& w) const {
  w.u16(extension_type);
  w.opaque(extension_data);
}

Extension Extension::decode(TlsReader& r) {
  Extension e;
  e.extension_type = r.u16();
  e.extension_data = r.opaque();
  return e;
}

void encode_extensions(TlsWriter& w, const std::vector<Extension>& list) { encode_vec(w, list); }

std::vector<Extension> decode_extensions(TlsReader& r) { return decode_vec<Extension>(r); }

const Extension* find_extension(const std::vector<Extension>& list, uint16_t type) {
  auto it = std::find_if(list.begin(), list.end(),
                         [&](const Extension& e) { return e.extension_type == type; });
  return it == list.end() ? nullptr : &*it;
}

bool has_duplicate_extensions(const std::vector<Extension>& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    for (size_t j = i + 1; j < list.size(); ++j) {
      if (list[i].extension_type == list[j].extension_type) return true;
    }
  }
  return false;
}

void Capabilities::encode(TlsWriter& w) const {
  encode_u16_vec(w, versions);
  encode_u16_vec(w, cipher_suites);
  encode_u16_vec(w, extensions);
  encode_u16_vec(w, proposals);
  encode_u16_vec(w, credentials);
}

Capabilities Capabilities::decode(TlsReader& r) {
  Capabilities c;
  c.versions = decode_u16_vec(r);
  c.cipher_suites = decode_u16_vec(r);
  c.extensions = decode_u16_vec(r);
  c.proposals = decode_u16_vec(r);
  c.credentials = decode_u16_vec(r);
  return c;
}

void Lifetime::encode(TlsWriter& w) const {
  w.u64(not_before);
  w.u64(not_after);
}

Lifetime Lifetime::decode(TlsReader& r) {
  Lifetime l;
  l.not_before = r.u64();
  l.not_after = r.u64();
  return l;
}

void ApplicationId::encode(TlsWriter& w) const { w.opaque(application_id); }

ApplicationId ApplicationId::decode(TlsReader& r) { return {r.opaque()}; }

void RequiredCapabilities::encode(TlsWriter& w) const {
  encode_u16_vec(w, extension_types);
  encode_u16_vec(w, proposal_types);
  encode_u16_vec(w, credential_types);
}

RequiredCapabilities RequiredCapabilities::decode(TlsReader& r) {
  RequiredCapabilities c;
  c.extension_types = decode_u16_vec(r);
  c.proposal_types = decode_u16_vec(r);
  c.credential_types = decode_u16_vec(r);
  return c;
}

void ExternalPub::encode(TlsWriter& w) const { w.opaque(external_pub); }

ExternalPub ExternalPub::decode(TlsReader& r) { return {r.opaque()}; }

void ExternalSender::encode(TlsWriter& w) const {
  w.opaque(signature_key);
  credential.encode(w);
}

ExternalSender ExternalSender::decode(TlsReader& r) {
  ExternalSender s;
  s.signature_key = r.opaque();
  s.credential = Credential::decode(r);
  return s;
}

void ExternalSenders::encode(TlsWriter& w) const { encode_vec(w, senders); }

ExternalSenders ExternalSenders::decode(TlsReader& r) { return {decode_vec<ExternalSender>(r)}; }

}  // namespace zerv::mls
