#pragma once
// Checksum cores over plain bytes, without Lua. The *Plain variants are the
// byte-at-a-time definitions; the others give identical values faster.
#include <cstddef>
#include <cstdint>

namespace halvix::modules::zstr {

std::uint8_t crc8(std::uint8_t crc, const unsigned char* p, std::size_t n);
std::uint16_t crc16(std::uint16_t crc, const unsigned char* p, std::size_t n);
std::uint16_t crcA001(std::uint16_t crc, const unsigned char* p, std::size_t n);
std::uint32_t crc32NoInvert(std::uint32_t crc, const unsigned char* p, std::size_t n);

std::uint8_t crc8Plain(std::uint8_t crc, const unsigned char* p, std::size_t n);
std::uint16_t crc16Plain(std::uint16_t crc, const unsigned char* p, std::size_t n);
std::uint16_t crcA001Plain(std::uint16_t crc, const unsigned char* p, std::size_t n);
std::uint16_t crcA001NibblePlain(std::uint16_t crc, const unsigned char* p, std::size_t n);
std::uint32_t crc32Plain(std::uint32_t crc, const unsigned char* p, std::size_t n);

}  // namespace halvix::modules::zstr
