// Fuzz target for the frame envelope decoder and the CBOR reader beneath it.
//
// Build: configure with clang-19 and -DZERV_SANITIZE=ON -DZERV_FUZZ=ON; the target is fuzz_envelope.
//
// Besides "no crash", it checks that every accepted envelope survives a round trip through the
// canonical encoding, and that the well-formedness check agrees with itself on any input.

#include <cstdint>
#include <cstdlib>

#include "base/cbor_reader.h"
#include "wire/envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zerv::ByteView in(data, size);

  auto decoded = zerv::wire::decode_envelope(in);
  if (decoded) {
    const zerv::Bytes encoded = zerv::wire::encode_envelope(*decoded);
    auto again = zerv::wire::decode_envelope(encoded);
    if (!again || !(*again == *decoded)) std::abort();
    if (zerv::wire::encode_envelope(*again) != encoded) std::abort();
    if (!zerv::cbor::check_well_formed(encoded)) std::abort();
  } else if (decoded.error().text().rfind("CBOR decode: ", 0) != 0) {
    std::abort();
  }

  // A well-formed prefix item must be skippable, and skipping it must land inside the input.
  zerv::cbor::Reader r(in);
  if (r.skip() && r.position() > size) std::abort();
  return 0;
}
