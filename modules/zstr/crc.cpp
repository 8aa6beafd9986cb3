#include "modules/zstr/crc.h"

#include <zlib.h>

#include "modules/zstr/crc_tables.h"

namespace halvix::modules::zstr {

std::uint8_t crc8(std::uint8_t crc, const unsigned char* p, std::size_t n) {
  const auto& s = kCrc8Slices;
  for (; n >= kSlices; n -= kSlices, p += kSlices) {
    crc = s[15][crc ^ p[0]] ^ s[14][p[1]] ^ s[13][p[2]] ^ s[12][p[3]] ^ s[11][p[4]] ^ s[10][p[5]] ^
          s[9][p[6]] ^ s[8][p[7]] ^ s[7][p[8]] ^ s[6][p[9]] ^ s[5][p[10]] ^ s[4][p[11]] ^ s[3][p[12]] ^
          s[2][p[13]] ^ s[1][p[14]] ^ s[0][p[15]];
  }
  return crc8Plain(crc, p, n);
}

// Most significant bit first: the state's high byte meets the first data byte.
std::uint16_t crc16(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  const auto& s = kCrc16Slices;
  for (; n >= kSlices; n -= kSlices, p += kSlices) {
    crc = s[15][(crc >> 8) ^ p[0]] ^ s[14][(crc & 0xFF) ^ p[1]] ^ s[13][p[2]] ^ s[12][p[3]] ^
          s[11][p[4]] ^ s[10][p[5]] ^ s[9][p[6]] ^ s[8][p[7]] ^ s[7][p[8]] ^ s[6][p[9]] ^ s[5][p[10]] ^
          s[4][p[11]] ^ s[3][p[12]] ^ s[2][p[13]] ^ s[1][p[14]] ^ s[0][p[15]];
  }
  return crc16Plain(crc, p, n);
}

// Reflected: the state's low byte meets the first data byte.
std::uint16_t crcA001(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  const auto& s = kCrcA001Slices;
  for (; n >= kSlices; n -= kSlices, p += kSlices) {
    crc = s[15][(crc & 0xFF) ^ p[0]] ^ s[14][(crc >> 8) ^ p[1]] ^ s[13][p[2]] ^ s[12][p[3]] ^
          s[11][p[4]] ^ s[10][p[5]] ^ s[9][p[6]] ^ s[8][p[7]] ^ s[7][p[8]] ^ s[6][p[9]] ^ s[5][p[10]] ^
          s[4][p[11]] ^ s[3][p[12]] ^ s[2][p[13]] ^ s[1][p[14]] ^ s[0][p[15]];
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
