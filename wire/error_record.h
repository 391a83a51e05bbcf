#pragma once
// The CBOR form of one catalogue entry, as handed to hosts.

#include "base/bytes.h"
#include "wire/error_catalogue.h"

namespace zerv::wire {

// Map of six entries in fixed order: code, class, retryable, fatal, reason (the name), det (empty).
Bytes encode_error_record(const ErrorInfo& info);

}  // namespace zerv::wire
