// Standard-codec decoding of arbitrary bytes: as a message, a method call and
// a reply envelope. Anything decoded must encode back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/flutter/method_result_functions.h"
#include "platform/flutter/standard_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using flutter::EncodableValue;
  const auto& messages = flutter::StandardMessageCodec::GetInstance();
  if (auto value = messages.DecodeMessage(data, size)) {
    auto again = messages.EncodeMessage(*value);
    // Only canonical input re-encodes identically: padding may be nonzero and
    // sizes may use a longer form, so compare decoded values instead.
    auto back = messages.DecodeMessage(*again);
    if (!back || !(*back == *value)) std::abort();
  }
  const auto& methods = flutter::StandardMethodCodec::GetInstance();
  if (auto call = methods.DecodeMethodCall(data, size)) {
    auto bytes = methods.EncodeMethodCall(*call);
    if (!methods.DecodeMethodCall(bytes->data(), bytes->size())) std::abort();
  }
  flutter::MethodResultFunctions<EncodableValue> sink(nullptr, nullptr, nullptr);
  methods.DecodeAndProcessResponseEnvelope(data, size, &sink);
  return 0;
}
