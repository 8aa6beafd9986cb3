#pragma once
// JSON text for the tools' output, whose strings are bytes off the wire or
// out of a file rather than text known to be UTF-8.
#include <string>

#include <nlohmann/json.hpp>

namespace halvix::tools {

// `value` as compact JSON text, as dump() writes it, except that a byte of a
// string or key that is not part of well-formed UTF-8 is written as the lone
// surrogate escape \udcXX (Python's "surrogateescape", PEP 383) instead of
// aborting: a \u00XX escape would read back as the character U+00XX, while a
// lone surrogate is no character, so the bytes can be recovered exactly.
std::string jsonText(const nlohmann::json& value);

}  // namespace halvix::tools
