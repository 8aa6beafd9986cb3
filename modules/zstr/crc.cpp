#include "modules/zstr/crc.h"

#include <cstring>

#include <libdeflate.h>

#include "modules/zstr/crc_tables.h"

namespace halvix::modules::zstr {

namespace {

// N data bytes as N / 8 little-endian words (memcpy: no alignment needed).
template <std::size_t N>
struct Block {
  std::uint64_t w[N / 8];
};

template <std::size_t N>
inline Block<N> load(const unsigned char* p) {
  Block<N> b;
  std::memcpy(b.w, p, N);
  return b;
}

// Byte k of the block meets slice N - 1 - k: the effect of that byte followed
// by the rest of the block. Four independent accumulators in full-width
// registers keep the XORs from forming one serial chain.
template <typename T, std::size_t N>
inline T fold(const SliceTables<T, N>& s, const Block<N>& b) {
  unsigned acc[4] = {0, 0, 0, 0};
#pragma GCC unroll 32
  for (std::size_t k = 0; k < N; ++k) acc[k % 4] ^= s[N - 1 - k][(b.w[k / 8] >> (8 * (k % 8))) & 0xFF];
  return static_cast<T>((acc[0] ^ acc[1]) ^ (acc[2] ^ acc[3]));
}

}  // namespace

// Reflected: the state meets the first data byte. Table indexes are loaded
// as single bytes, which takes fewer operations than shifting them out of words.
std::uint8_t crc8(std::uint8_t crc, const unsigned char* p, std::size_t n) {
  constexpr std::size_t N = 32;
  const auto& s = kCrc8Slices;
  for (; n >= N; n -= N, p += N) {
    unsigned acc[4] = {s[N - 1][crc ^ p[0]], 0, 0, 0};
#pragma GCC unroll 32
    for (std::size_t k = 1; k < N; ++k) acc[k % 4] ^= s[N - 1 - k][p[k]];
    crc = static_cast<std::uint8_t>((acc[0] ^ acc[1]) ^ (acc[2] ^ acc[3]));
  }
  return crc8Plain(crc, p, n);
}

// Most significant bit first: the state's high byte meets the first data
// byte and its low byte the second.
std::uint16_t crc16(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  constexpr std::size_t N = 16;
  for (; n >= N; n -= N, p += N) {
    Block<N> b = load<N>(p);
    b.w[0] ^= static_cast<std::uint64_t>((crc >> 8) | ((crc & 0xFF) << 8));
    crc = fold(kCrc16Slices, b);
  }
  return crc16Plain(crc, p, n);
}

// Reflected: the state's low byte meets the first data byte.
std::uint16_t crcA001(std::uint16_t crc, const unsigned char* p, std::size_t n) {
  constexpr std::size_t N = 16;
  for (; n >= N; n -= N, p += N) {
    Block<N> b = load<N>(p);
    b.w[0] ^= crc;
    crc = fold(kCrcA001Slices, b);
  }
  return crcA001Plain(crc, p, n);
}

// libdeflate's CRC-32 (zlib's values, with carry-less multiplication)
// complements the value before and after; undo both so the running value
// chains as is.
std::uint32_t crc32NoInvert(std::uint32_t crc, const unsigned char* p, std::size_t n) {
  if (n == 0) return crc;
  return ~libdeflate_crc32(~crc, p, n);
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
