#include "tools/halvixctl/json_mapping.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "platform/flutter/standard_codec.h"
#include "tools/json_text/json_text.h"

namespace halvix::ctl {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr std::string_view kHexPrefix = "hex:";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<uint8_t> fromHex(std::string_view hex) {
  if (hex.size() % 2) throw JsonMappingError("odd number of hex digits in \"hex:\" string");
  std::vector<uint8_t> out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = hexDigit(hex[i]);
    int low = hexDigit(hex[i + 1]);
    if (high < 0 || low < 0) throw JsonMappingError("bad hex digit in \"hex:\" string");
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return out;
}

std::string toHex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out(kHexPrefix);
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

EncodableValue integer(int64_t value) {
  if (value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max())
    return EncodableValue(static_cast<int32_t>(value));
  return EncodableValue(value);
}

template <typename T>
nlohmann::json numbers(const std::vector<T>& list) {
  nlohmann::json out = nlohmann::json::array();
  for (const T& x : list) out.push_back(x);
  return out;
}

}  // namespace

nlohmann::json parseJson(const std::string& text) {
  constexpr int kMaxDepth = flutter::StandardCodecSerializer::kMaxNestingDepth;
  // The depth the parser reports is the codec's: the outermost value is at
  // depth 0, the items of a list or map one deeper.
  return nlohmann::json::parse(text, [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
    if (depth > kMaxDepth)
      throw JsonMappingError("values nested deeper than " + std::to_string(kMaxDepth) +
                             " levels, the most the standard codec accepts");
    return true;
  });
}

EncodableValue jsonToValue(const nlohmann::json& json) {
  switch (json.type()) {
    case nlohmann::json::value_t::null:
      return EncodableValue();
    case nlohmann::json::value_t::boolean:
      return EncodableValue(json.get<bool>());
    case nlohmann::json::value_t::number_integer:
      return integer(json.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
      uint64_t value = json.get<uint64_t>();
      if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        throw JsonMappingError("integer " + std::to_string(value) + " does not fit 64 bits");
      return integer(static_cast<int64_t>(value));
    }
    case nlohmann::json::value_t::number_float:
      return EncodableValue(json.get<double>());
    case nlohmann::json::value_t::string: {
      const auto& text = json.get_ref<const std::string&>();
      if (text.starts_with(kHexPrefix)) return EncodableValue(fromHex(std::string_view(text).substr(kHexPrefix.size())));
      return EncodableValue(text);
    }
    case nlohmann::json::value_t::array: {
      EncodableList list;
      for (const auto& item : json) list.push_back(jsonToValue(item));
      return EncodableValue(std::move(list));
    }
    case nlohmann::json::value_t::object: {
      EncodableMap map;
      for (const auto& [key, item] : json.items()) map.emplace(EncodableValue(key), jsonToValue(item));
      return EncodableValue(std::move(map));
    }
    default:
      throw JsonMappingError("unsupported JSON value");
  }
}

nlohmann::json valueToJson(const EncodableValue& value) {
  switch (value.index()) {
    case 0:
      return nullptr;
    case 1:
      return std::get<bool>(value);
    case 2:
      return std::get<int32_t>(value);
    case 3:
      return std::get<int64_t>(value);
    case 4:
      return std::get<double>(value);
    case 5:
      return std::get<std::string>(value);
    case 6:
      return toHex(std::get<std::vector<uint8_t>>(value));
    case 7:
      return numbers(std::get<std::vector<int32_t>>(value));
    case 8:
      return numbers(std::get<std::vector<int64_t>>(value));
    case 9:
      return numbers(std::get<std::vector<double>>(value));
    case 10: {
      nlohmann::json out = nlohmann::json::array();
      for (const auto& item : std::get<EncodableList>(value)) out.push_back(valueToJson(item));
      return out;
    }
    case 11: {
      nlohmann::json out = nlohmann::json::object();
      for (const auto& [key, item] : std::get<EncodableMap>(value)) {
        std::string name = std::holds_alternative<std::string>(key) ? std::get<std::string>(key)
                                                                     : tools::jsonText(valueToJson(key));
        out[name] = valueToJson(item);
      }
      return out;
    }
    case 12:
      return numbers(std::get<std::vector<float>>(value));
  }
  return nullptr;
}

}  // namespace halvix::ctl
