#pragma once
// Base-128 variable-length integers and the ZigZag map, shared by the CDR
// format and the pack format codes "e", "E", "W" and "j".
//
//   varint   = group* last               value in 7-bit groups, least significant first
//   group    = 1xxxxxxx                  seven more bits, and more bytes follow
//   last     = 0xxxxxxx
//   varint32 = 1 to 5 bytes; a fifth byte with its top bit set is malformed,
//              bits above bit 31 are dropped
//   varint64 = 1 to 10 bytes; a tenth byte with its top bit set is malformed,
//              only its lowest bit is used (bit 63)
//   zigzag(v) = (v << 1) ^ (v >> 31 or 63, arithmetic)   0, -1, 1, -2 -> 0, 1, 2, 3
//   unzigzag(u) = (u >> 1) ^ -(u & 1)
//
// The encoder writes the shortest form. Decoders check every byte against
// the end of the input before reading it.
#include <cstddef>
#include <cstdint>

namespace halvix::modules::varint {

inline constexpr std::size_t kMax32 = 5;
inline constexpr std::size_t kMax64 = 10;

constexpr std::uint32_t zigzag32(std::int32_t v) {
  return (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v >> 31);
}
constexpr std::uint64_t zigzag64(std::int64_t v) {
  return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}
constexpr std::int32_t unzigzag32(std::uint32_t u) { return static_cast<std::int32_t>((u >> 1) ^ (0u - (u & 1u))); }
constexpr std::int64_t unzigzag64(std::uint64_t u) {
  return static_cast<std::int64_t>((u >> 1) ^ (std::uint64_t{0} - (u & 1u)));
}

// Writes v at out, which has room for kMax64 bytes; returns the bytes written.
constexpr std::size_t put(unsigned char* out, std::uint64_t v) {
  std::size_t n = 0;
  while (v >= 0x80) {
    out[n++] = static_cast<unsigned char>(v | 0x80);
    v >>= 7;
  }
  out[n++] = static_cast<unsigned char>(v);
  return n;
}

// Decodes a varint of at most maxBytes bytes from [p, end). Returns the
// bytes used, or 0 when the input ends first or the last allowed byte still
// has its top bit set. Bits beyond 64 fall off.
constexpr std::size_t get(const unsigned char* p, const unsigned char* end, std::size_t maxBytes, std::uint64_t& v) {
  std::uint64_t result = 0;
  for (std::size_t i = 0; i < maxBytes; ++i) {
    if (p + i >= end) return 0;
    const unsigned char b = p[i];
    result |= static_cast<std::uint64_t>(b & 0x7f) << (7 * i);
    if ((b & 0x80) == 0) {
      v = result;
      return i + 1;
    }
  }
  return 0;
}

constexpr std::size_t get32(const unsigned char* p, const unsigned char* end, std::uint32_t& v) {
  if (p < end && *p < 0x80) {
    v = *p;
    return 1;
  }
  std::uint64_t wide = 0;
  const std::size_t used = get(p, end, kMax32, wide);
  if (used != 0) v = static_cast<std::uint32_t>(wide);
  return used;
}

constexpr std::size_t get64(const unsigned char* p, const unsigned char* end, std::uint64_t& v) {
  return get(p, end, kMax64, v);
}

}  // namespace halvix::modules::varint
