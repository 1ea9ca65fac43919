// pjlwrap fuzz target: the command decoding, checked against the
// independent model of its rules.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "decode_model.h"
#include "pjlwrap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  DecodedCommand got = decode_pjl_code(text);
  unsigned char bad = 0;
  std::optional<std::string> want = model_decode(text, &bad);
  if (got.ok != want.has_value()) abort();
  if (got.ok && (got.bytes != *want || got.bytes.size() > size)) abort();
  if (!got.ok && (got.bad_byte != bad || !got.bytes.empty())) abort();
  return 0;
}
