#include "wire/codec_error.h"

namespace zerv::wire {

std::string CodecError::text() const {
  switch (kind) {
    case Kind::kDecode:
      return "CBOR decode: " + diagnostic;
    case Kind::kEncode:
      return "CBOR encode: " + diagnostic;
    case Kind::kLengthMismatch:
      return "payload_size/content_length/args_length mismatch";
    case Kind::kUnknownEnumValue:
      return "unknown enum value: " + std::to_string(value);
  }
  return "CBOR decode: unknown error";
}

}  // namespace zerv::wire
