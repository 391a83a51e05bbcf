#pragma once
// Combining the pre-shared keys of a Commit or Welcome into the psk_secret of the key schedule.

#include <span>

#include "base/bytes.h"
#include "base/result.h"

namespace zerv::mls {

// One PSK as the key schedule sees it: its PreSharedKeyID, already encoded, and its value.
struct PskInput {
  ByteView encoded_id;
  ByteView psk;
};

// The chained psk_secret over psks in the order the Commit lists them; all zero (Nh bytes) when
// there are none. Fails when there are more PSKs than a uint16 count can express.
Result<SecretBytes> psk_secret(std::span<const PskInput> psks);

}  // namespace zerv::mls
