#include "wire/error_record.h"

#include "base/cbor_writer.h"

namespace zerv::wire {

Bytes encode_error_record(const ErrorInfo& info) {
  cbor::Writer w;
  w.map(6);
  w.text("code");
  w.uint(info.code);
  w.text("class");
  w.uint(info.error_class);
  w.text("retryable");
  w.boolean(info.retryable);
  w.text("fatal");
  w.boolean(info.fatal);
  w.text("reason");
  w.text(info.name);
  w.text("det");
  w.bytes({});
  return w.take();
}

}  // namespace zerv::wire
