#pragma once
// Well-formed UTF-8 as Unicode defines it: no overlong forms, no surrogates,
// nothing past U+10FFFF. Windows checks its own conversions (text_win32);
// text that arrives as bytes (POSIX command lines, bytes off the wire) is
// checked here.
#include <cstddef>
#include <string_view>

namespace halvix::platform {

// Length of the well-formed sequence `text` starts with: 1 to 4, or 0 when
// it starts with none (or is empty).
std::size_t utf8SequenceLength(std::string_view text);

bool isWellFormedUtf8(std::string_view text);

}  // namespace halvix::platform
