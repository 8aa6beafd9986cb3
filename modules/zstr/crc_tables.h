#pragma once
// CRC tables, built at compile time from the polynomials, and the plain
// byte-at-a-time updates that define each checksum. The sliced tables let
// the checksum loops take 16 or 32 bytes per step with identical results:
// slice[k][x] is the effect of byte x followed by k zero bytes.
#include <array>
#include <cstddef>
#include <cstdint>

namespace halvix::modules::zstr {

template <typename T, std::size_t N>
using SliceTables = std::array<std::array<T, 256>, N>;

// Reflected (least significant bit first) table for a reflected polynomial.
template <typename T>
constexpr std::array<T, 256> reflectedTable(T poly) {
  std::array<T, 256> t{};
  for (unsigned x = 0; x < 256; ++x) {
    T crc = static_cast<T>(x);
    for (int step = 0; step < 8; ++step)
      crc = (crc & 1) ? static_cast<T>((crc >> 1) ^ poly) : static_cast<T>(crc >> 1);
    t[x] = crc;
  }
  return t;
}

constexpr std::array<std::uint16_t, 256> msbFirstTable16(std::uint16_t poly) {
  std::array<std::uint16_t, 256> t{};
  for (unsigned x = 0; x < 256; ++x) {
    unsigned crc = x << 8;
    for (int step = 0; step < 8; ++step) crc = (crc & 0x8000) ? (crc << 1) ^ poly : crc << 1;
    t[x] = static_cast<std::uint16_t>(crc & 0xFFFF);
  }
  return t;
}

inline constexpr auto kCrc8Table = reflectedTable<std::uint8_t>(0x8C);
inline constexpr auto kCrc16Table = msbFirstTable16(0x1021);
inline constexpr auto kCrcA001Table = reflectedTable<std::uint16_t>(0xA001);
inline constexpr auto kCrc32Table = reflectedTable<std::uint32_t>(0xEDB88320u);

// The four-bit table of the 0xA001 checksum, processing a byte as two nibbles.
inline constexpr std::array<std::uint16_t, 16> kCrcA001Nibbles = {
    0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
    0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4400};

// --- plain one-byte updates -------------------------------------------------

constexpr std::uint8_t crc8Byte(std::uint8_t crc, std::uint8_t b) { return kCrc8Table[crc ^ b]; }

constexpr std::uint16_t crc16Byte(std::uint16_t crc, std::uint8_t b) {
  return static_cast<std::uint16_t>(((crc << 8) & 0xFFFF) ^ kCrc16Table[((crc >> 8) ^ b) & 0xFF]);
}

constexpr std::uint16_t crcA001Byte(std::uint16_t crc, std::uint8_t b) {
  return static_cast<std::uint16_t>((crc >> 8) ^ kCrcA001Table[(crc ^ b) & 0xFF]);
}

constexpr std::uint16_t crcA001Nibbles(std::uint16_t crc, std::uint8_t b) {
  crc = static_cast<std::uint16_t>((crc >> 4) ^ kCrcA001Nibbles[(crc ^ b) & 15]);
  return static_cast<std::uint16_t>((crc >> 4) ^ kCrcA001Nibbles[(crc ^ (b >> 4)) & 15]);
}

constexpr std::uint32_t crc32Byte(std::uint32_t crc, std::uint8_t b) {
  return (crc >> 8) ^ kCrc32Table[(crc ^ b) & 0xFF];
}

// --- sliced tables ------------------------------------------------------------

template <std::size_t N, typename T, typename Step>
constexpr SliceTables<T, N> sliced(const std::array<T, 256>& base, Step zeroByte) {
  SliceTables<T, N> s{};
  s[0] = base;
  for (std::size_t k = 1; k < N; ++k)
    for (std::size_t x = 0; x < 256; ++x) s[k][x] = zeroByte(s[k - 1][x]);
  return s;
}

// 32 slices of bytes for the 8-bit checksum (8 KiB), 16 of 16-bit values
// for the others (8 KiB each): all stay in the first-level cache.
inline constexpr SliceTables<std::uint8_t, 32> kCrc8Slices =
    sliced<32>(kCrc8Table, [](std::uint8_t v) { return crc8Byte(v, 0); });
inline constexpr SliceTables<std::uint16_t, 16> kCrc16Slices =
    sliced<16>(kCrc16Table, [](std::uint16_t v) { return crc16Byte(v, 0); });
inline constexpr SliceTables<std::uint16_t, 16> kCrcA001Slices =
    sliced<16>(kCrcA001Table, [](std::uint16_t v) { return crcA001Byte(v, 0); });

static_assert(kCrc8Table[1] == 0x5E);
static_assert(kCrc16Table[1] == 0x1021);
static_assert(kCrc32Table[1] == 0x77073096u);
static_assert(crcA001Byte(0x1234, 0x5A) == crcA001Nibbles(0x1234, 0x5A));

}  // namespace halvix::modules::zstr
