#pragma once
// The format language shared by zpack and zunpack: items of one code
// character and an optional decimal count. Fixed-width fields are written in
// little-endian order unless ">" switched to big-endian ("swap").
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace halvix::modules::zstr {

static_assert(std::endian::native == std::endian::little, "native order is little-endian");

enum class Kind {
  Unknown,
  Ignore,       // " " ","
  Little,       // "<" "="
  Big,          // ">"
  ZeroEnded,    // "z"
  Raw,          // "A"
  Prefixed,     // "p" "P" "a": fixed-width length, then the bytes
  VarPrefixed,  // "j": varint length, then the bytes
  Int32Based,   // "b" "c" "h" "H" "i" "l": packed from a 32-bit conversion
  Int64Based,   // "I" "L" "u": packed from a 64-bit conversion
  Single,       // "f"
  Double,       // "d" "n"
  VarU32,       // "e"
  VarZigzag32,  // "E"
  VarZigzag64,  // "W"
};

struct Code {
  Kind kind = Kind::Unknown;
  int width = 0;       // bytes of a fixed-width field or length prefix
  bool isSigned = false;
};

constexpr Code codeOf(char c) {
  switch (c) {
    case ' ': case ',': return {Kind::Ignore};
    case '<': case '=': return {Kind::Little};
    case '>': return {Kind::Big};
    case 'z': return {Kind::ZeroEnded};
    case 'A': return {Kind::Raw};
    case 'p': return {Kind::Prefixed, 1};
    case 'P': return {Kind::Prefixed, 2};
    case 'a': return {Kind::Prefixed, 8};
    case 'j': return {Kind::VarPrefixed};
    case 'b': return {Kind::Int32Based, 1, false};
    case 'c': return {Kind::Int32Based, 1, true};
    case 'h': return {Kind::Int32Based, 2, true};
    case 'H': return {Kind::Int32Based, 2, false};
    case 'i': case 'l': return {Kind::Int32Based, 4, true};
    case 'I': case 'L': return {Kind::Int64Based, 4, false};
    case 'u': return {Kind::Int64Based, 8, true};
    case 'f': return {Kind::Single, 4};
    case 'd': case 'n': return {Kind::Double, 8};
    case 'e': return {Kind::VarU32};
    case 'E': return {Kind::VarZigzag32};
    case 'W': return {Kind::VarZigzag64};
    default: return {};
  }
}

struct Item {
  char character = 0;
  Code code;
  std::uint64_t count = 1;
};

class FormatReader {
 public:
  FormatReader(const char* text, std::size_t length) : p_(text), end_(text + length) {}

  // The next item, or false at the end. An unknown character (a digit that
  // follows no code included) comes back with Kind::Unknown.
  bool next(Item& item) {
    if (p_ == end_) return false;
    item.character = *p_++;
    item.code = codeOf(item.character);
    item.count = 1;
    if (item.code.kind == Kind::Unknown || !isDigit()) return true;
    std::uint64_t count = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; isDigit(); ++p_) {
      const auto digit = static_cast<std::uint64_t>(*p_ - '0');
      count = count > (kMax - digit) / 10 ? kMax : count * 10 + digit;  // saturate
    }
    item.count = count;
    return true;
  }

 private:
  bool isDigit() const { return p_ != end_ && *p_ >= '0' && *p_ <= '9'; }
  const char* p_;
  const char* end_;
};

}  // namespace halvix::modules::zstr
