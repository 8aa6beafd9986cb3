#pragma once
// The Base64 variant of zacc: a replaceable 64-symbol alphabet and pad string.
#include <optional>
#include <string>
#include <string_view>

namespace halvix::modules::zacc {

inline constexpr std::string_view kDefaultAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// `alphabet` must hold at least 64 bytes; only the first 64 are used.
std::string toBin64(std::string_view data, std::string_view alphabet, std::string_view pad);

// Empty when the text holds a byte that is neither a symbol, nor skipped
// white space, nor the first byte of a non-empty pad (which ends the text).
std::optional<std::string> fromBin64(std::string_view text, std::string_view alphabet,
                                     std::string_view pad);

}  // namespace halvix::modules::zacc
