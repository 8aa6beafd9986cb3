#pragma once
// JSON <-> standard-codec values, as halvixctl reads arguments and prints
// replies: objects are maps with string keys, arrays are lists, integers are
// int32 when they fit and int64 otherwise, and a string "hex:0a0b..." is a
// Uint8List. Typed lists print as arrays of numbers; map keys that are not
// strings print as their JSON text.
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/flutter/encodable_value.h"

namespace halvix::ctl {

class JsonMappingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses JSON text, refusing (JsonMappingError) values nested deeper than
// the standard codec decodes: the parser stops there, before the tree grows
// deep enough for anything that walks it to run out of stack.
nlohmann::json parseJson(const std::string& text);
flutter::EncodableValue jsonToValue(const nlohmann::json& json);
nlohmann::json valueToJson(const flutter::EncodableValue& value);

}  // namespace halvix::ctl
