#include "mls/engine/psk.h"

#include <cstdint>
#include <limits>

#include "mls/engine/codec.h"
#include "mls/engine/suite.h"

namespace zerv::mls {

Result<SecretBytes> psk_secret(std::span<const PskInput> psks) {
  if (psks.size() > std::numeric_limits<uint16_t>::max()) return fail("too many PSKs");
  const Bytes zero(kHashSize, 0);
  SecretBytes secret(kHashSize, 0);
  const auto count = static_cast<uint16_t>(psks.size());
  for (uint16_t i = 0; i < count; ++i) {
    TlsWriter label;  // PSKLabel: id, index, count
    label.raw(psks[i].encoded_id);
    label.u16(i);
    label.u16(count);
    const SecretBytes extracted = suite::extract(zero, psks[i].psk);
    const SecretBytes input =
        suite::expand_with_label(extracted, "derived psk", label.bytes(), kHashSize);
    secret = suite::extract(input, secret);
  }
  return secret;
}

}  // namespace zerv::mls
