#pragma once
// What the zsocket opener takes from the CDR codec and the byte buffer, and
// the packet header reader shared by both byte queues.
#include <cstddef>
#include <cstdint>

#include <lua.hpp>

namespace halvix::modules::zsocket {

// cdr_rd_table, cdr_rd_var, cdr_wr_table, cdr_wr_var, cdr_wr_packet,
// cdr_wr_packetva, cdr_rd_header; null-terminated.
extern const luaL_Reg kCdrFunctions[];

// zsocket.newbuffer: a new, empty ZBUFFERMT userdata.
int newByteBuffer(lua_State* L);

// Creates (or refills) the ZBUFFERMT metatable: its __index table of methods
// and its __gc. Leaves the stack unchanged.
void registerByteBufferMeta(lua_State* L);

// The ten-byte packet header: magic (2 raw bytes), word1 and word2 (16-bit
// big-endian), body_length (32-bit big-endian).
struct PacketHeader {
  char magic[2];
  std::uint16_t word1, word2;
  std::uint32_t bodyLength;
};
inline constexpr std::size_t kPacketHeaderSize = 10;

PacketHeader parsePacketHeader(const unsigned char* tenBytes);

// Pushes magic (a 2-byte string), word1, word2, body_length; returns 4.
int pushPacketHeader(lua_State* L, const PacketHeader& h);

}  // namespace halvix::modules::zsocket
