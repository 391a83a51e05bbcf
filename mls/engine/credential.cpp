#include "mls/engine/credential.h"

#include <string>

namespace zerv::mls {

uint16_t Credential::type() const {
  return std::holds_alternative<BasicCredential>(content) ? credential_type::kBasic
                                                          : credential_type::kX509;
}

void Credential::encode(TlsWriter& w) const {
  w.u16(type());
  if (const auto* basic = std::get_if<BasicCredential>(&content)) {
    w.opaque(basic->identity);
  } else {
    encode_opaque_vec(w, std::get<X509Credential>(content).certificates);
  }
}

Credential Credential::decode(TlsReader& r) {
  uint16_t type = r.u16();
  if (!r.ok()) return {};
  switch (type) {
    case credential_type::kBasic:
      return {BasicCredential{r.opaque()}};
    case credential_type::kX509:
      return {X509Credential{decode_opaque_vec(r)}};
    default:
      r.fail("unsupported credential type " + std::to_string(type));
      return {};
  }
}

}  // namespace zerv::mls
