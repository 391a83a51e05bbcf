#include "mls/engine/group_context.h"

namespace zerv::mls {

void GroupContext::encode(TlsWriter& w) const {
  w.u16(version);
  w.u16(cipher_suite);
  w.opaque(group_id);
  w.u64(epoch);
  w.opaque(tree_hash);
  w.opaque(confirmed_transcript_hash);
  encode_extensions(w, extensions);
}

GroupContext GroupContext::decode(TlsReader& r) {
  GroupContext c;
  c.version = r.u16();
  c.cipher_suite = r.u16();
  c.group_id = r.opaque();
  c.epoch = r.u64();
  c.tree_hash = r.opaque();
  c.confirmed_transcript_hash = r.opaque();
  c.extensions = decode_extensions(r);
  return c;
}

}  // namespace zerv::mls
