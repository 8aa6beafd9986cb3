#pragma once
// The ten-byte packet header that both byte queues read and that the packet
// encoders and the byte buffer's set_header write:
//
//   header = magic(2 raw bytes) word1(u16 BE) word2(u16 BE) body_length(u32 BE)
//
// Written with the defaults magic "GL", word1 0x3030 (12336), word2 0,
// body_length 0 wherever an argument is absent.
#include <cstddef>
#include <cstdint>

#include <lua.hpp>

namespace halvix::modules::zsocket {

inline constexpr std::size_t kPacketHeaderSize = 10;

struct PacketHeader {
  char magic[2] = {'G', 'L'};
  std::uint16_t word1 = 12336;
  std::uint16_t word2 = 0;
  std::uint32_t bodyLength = 0;
};

PacketHeader parsePacketHeader(const unsigned char* tenBytes);
void encodePacketHeader(const PacketHeader& h, unsigned char* tenBytes);
// The body_length field of an encoded header.
void encodeBodyLength(std::uint32_t bodyLength, unsigned char* tenBytes);

// Pushes magic (a 2-byte string), word1, word2, body_length; returns 4.
int pushPacketHeader(lua_State* L, const PacketHeader& h);

// Reads magic, word1 and word2 from the arguments at magicArg, magicArg + 1
// and magicArg + 2 into h, defaults where absent. The magic counts when it is
// a string or a number; its text must then be exactly 2 bytes, else the
// result is false (h keeps the default magic). Raises the bad-argument error
// for a word that is not a number.
bool readPacketHeaderArgs(lua_State* L, int magicArg, PacketHeader& h);

}  // namespace halvix::modules::zsocket
