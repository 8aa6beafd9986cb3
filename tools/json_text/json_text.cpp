#include "tools/json_text/json_text.h"

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "platform/utf8.h"

namespace halvix::tools {

namespace {

// A \u00XX escape would read back as the character U+00XX, the same text as
// that character spelt in UTF-8; a lone surrogate is no character, so the
// bytes stay told apart and decode back exactly (Python:
// .encode("utf-8", "surrogateescape")). Well-formed runs are left to dump().
void appendString(std::string_view s, std::string& out) {
  out += '"';
  while (!s.empty()) {
    std::size_t run = 0;
    while (run < s.size()) {
      const std::size_t length = platform::utf8SequenceLength(s.substr(run));
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
