#include "modules/zstr/crc.h"

#include <cstring>

#include <zlib.h>

#include "modules/zstr/crc_tables.h"

namespace halvix::modules::zstr {

namespace {

// Sixteen bytes as two little-endian words (memcpy: no alignment needed).
struct Block {
  std::uint64_t lo, hi;
};

inline Block load16(const unsigned char* p) {
  Block b;
  std::memcpy(&b.lo, p, 8);
  std::memcpy(&b.hi, p + 8, 8);
  return b;
}

// Byte k of the block meets slice 15 - k.
template <typename T>
inline T fold16(const SliceTables<T>& s, const Block& b) {
  auto byte = [](std::uint64_t w, int k) { return static_cast<std::size_t>((w >> (8 * k)) & 0xFF); };
  return static_cast<T>(s[15][byte(b.lo, 0)] ^ s[14][byte(b.lo, 1)] ^ s[13][byte(b.lo, 2)] ^ s[12][byte(b.lo, 3)] ^
                        s[11][byte(b.lo, 4)] ^ s[10][byte(b.lo, 5)] ^ s[9][byte(b.lo, 6)] ^ s[8][byte(b.lo, 7)] ^
                        s[7][byte(b.hi, 0)] ^ s[6][byte(b.hi, 1)] ^ s[5][byte(b.hi, 2)] ^ s[4][byte(b.hi, 3)] ^
                        s[3][byte(b.hi, 4)] ^ s[2][byte(b.hi, 5)] ^ s[1][byte(b.hi, 6)] ^ s[0][byte(b.hi, 7)]);
}

}  // namespace

// Reflected: the state meets the first data byte.
std::uint8_t crc8(std::uint8_t crc, const unsigned char* p, std::size_t n) {
  for (; n >= kSlices; n -= kSlices, p += kSlices) {
    Block b = load16(p);
    b.lo ^= crc;
    crc = fold16(kCrc8Slices, b);
  }
  return crc8Plain(crc, p, n);
}

// Most significant bit first: the state's high byte meets the first data
// byte and its low byte the second.
std::uint16_t crc16(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  for (; n >= kSlices; n -= kSlices, p += kSlices) {
    Block b = load16(p);
    b.lo ^= static_cast<std::uint64_t>((crc >> 8) | ((crc & 0xFF) << 8));
    crc = fold16(kCrc16Slices, b);
  }
  return crc16Plain(crc, p, n);
}

// Reflected: the state's low byte meets the first data byte.
std::uint16_t crcA001(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  for (; n >= kSlices; n -= kSlices, p += kSlices) {
    Block b = load16(p);
    b.lo ^= crc;
    crc = fold16(kCrcA001Slices, b);
  }
  return crcA001Plain(crc, p, n);
}

// zlib complements the value before and after; undo both so the running
// value chains as is.
std::uint32_t crc32NoInvert(std::uint32_t crc, const unsigned char* p, std::size_t n) {
  if (n == 0) return crc;
  return static_cast<std::uint32_t>(~crc32_z(~crc & 0xFFFFFFFFu, p, n)) & 0xFFFFFFFFu;
}

std::uint8_t crc8Plain(std::uint8_t crc, const unsigned char* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) crc = crc8Byte(crc, p[k]);
  return crc;
}

std::uint16_t crc16Plain(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) crc = crc16Byte(crc, p[k]);
  return crc;
}

std::uint16_t crcA001Plain(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) crc = crcA001Byte(crc, p[k]);
  return crc;
}

std::uint16_t crcA001NibblePlain(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) crc = crcA001Nibbles(crc, p[k]);
  return crc;
}

std::uint32_t crc32Plain(std::uint32_t crc, const unsigned char* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) crc = crc32Byte(crc, p[k]);
  return crc;
}

}  // namespace halvix::modules::zstr
