#include "tools/json_text/json_text.h"

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace halvix::tools {

namespace {

// Length of the well-formed UTF-8 sequence `s` starts with, 0 when it starts
// with none: the sequences nlohmann::json's dump() accepts, no overlong
// forms, surrogates or code points past U+10FFFF.
std::size_t utf8Length(std::string_view s) {
  const auto at = [&](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  const unsigned lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  return length;
}

// A \u00XX escape would read back as the character U+00XX, the same text as
// that character spelt in UTF-8; a lone surrogate is no character, so the
// bytes stay told apart and decode back exactly (Python:
// .encode("utf-8", "surrogateescape")). Well-formed runs are left to dump().
void appendString(std::string_view s, std::string& out) {
  out += '"';
  while (!s.empty()) {
    std::size_t run = 0;
    while (run < s.size()) {
      const std::size_t length = utf8Length(s.substr(run));
      if (length == 0) break;
      run += length;
    }
    const std::string text = nlohmann::json(std::string(s.substr(0, run))).dump();
    out.append(text, 1, text.size() - 2);
    s.remove_prefix(run);
    if (s.empty()) break;
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\udc%02x", static_cast<unsigned char>(s[0]));
    out += escape;
    s.remove_prefix(1);
  }
  out += '"';
}

void appendJson(const nlohmann::json& value, std::string& out) {
  const char* separator = "";
  if (value.is_object()) {
    out += '{';
    for (const auto& [key, item] : value.items()) {
      out += separator;
      separator = ",";
      appendString(key, out);
      out += ':';
      appendJson(item, out);
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    for (const auto& item : value) {
      out += separator;
      separator = ",";
      appendJson(item, out);
    }
    out += ']';
  } else if (value.is_string()) {
    appendString(value.get_ref<const std::string&>(), out);
  } else {
    out += value.dump();
  }
}

}  // namespace

std::string jsonText(const nlohmann::json& value) {
  std::string out;
  appendJson(value, out);
  return out;
}

}  // namespace halvix::tools
