#include "mls/engine/key_package.h"

#include "mls/engine/suite.h"

namespace zerv::mls {

void KeyPackage::encode_content(TlsWriter& w) const {
  w.u16(version);
  w.u16(cipher_suite);
  w.opaque(init_key);
  leaf_node.encode(w);
  encode_extensions(w, extensions);
}

Bytes KeyPackage::to_be_signed() const {
  TlsWriter w;
  encode_content(w);
  return w.take();
}

Bytes KeyPackage::ref() const {
  return suite::ref_hash("MLS 1.0 KeyPackage Reference", encode_one(*this));
}

void KeyPackage::encode(TlsWriter& w) const {
  encode_content(w);
  w.opaque(signature);
}

KeyPackage KeyPackage::decode(TlsReader& r) {
  KeyPackage k;
  k.version = r.u16();
  k.cipher_suite = r.u16();
  k.init_key = r.opaque();
  k.leaf_node = LeafNode::decode(r);
  k.extensions = decode_extensions(r);
  k.signature = r.opaque();
  return k;
}

}  // namespace zerv::mls
