#pragma once
// GroupContext: the summary of a group's state that every member agrees on in an epoch.

#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "mls/engine/codec.h"
#include "mls/engine/extension.h"

namespace zerv::mls {

struct GroupContext {
  uint16_t version = 0;
  uint16_t cipher_suite = 0;
  Bytes group_id;
  uint64_t epoch = 0;
  Bytes tree_hash;
  Bytes confirmed_transcript_hash;
  std::vector<Extension> extensions;

  void encode(TlsWriter& w) const;
  static GroupContext decode(TlsReader& r);
  bool operator==(const GroupContext&) const = default;
};

}  // namespace zerv::mls
