#include "modules/zsocket/packet_header.h"

#include <cstring>

#include "modules/common/lua_conv.h"

namespace halvix::modules::zsocket {
namespace {

void putBE16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

}  // namespace

PacketHeader parsePacketHeader(const unsigned char* p) {
  PacketHeader h;
  h.magic[0] = static_cast<char>(p[0]);
  h.magic[1] = static_cast<char>(p[1]);
  h.word1 = static_cast<std::uint16_t>(p[2] << 8 | p[3]);
  h.word2 = static_cast<std::uint16_t>(p[4] << 8 | p[5]);
  h.bodyLength = std::uint32_t{p[6]} << 24 | std::uint32_t{p[7]} << 16 | std::uint32_t{p[8]} << 8 | p[9];
  return h;
}

void encodePacketHeader(const PacketHeader& h, unsigned char* p) {
  std::memcpy(p, h.magic, 2);
  putBE16(p + 2, h.word1);
  putBE16(p + 4, h.word2);
  encodeBodyLength(h.bodyLength, p);
}

void encodeBodyLength(std::uint32_t bodyLength, unsigned char* p) {
  for (int k = 0; k < 4; ++k) p[6 + k] = static_cast<unsigned char>(bodyLength >> (24 - 8 * k));
}

int pushPacketHeader(lua_State* L, const PacketHeader& h) {
  lua_pushlstring(L, h.magic, 2);
  lua_pushnumber(L, h.word1);
  lua_pushnumber(L, h.word2);
  lua_pushnumber(L, h.bodyLength);
  return 4;
}

bool readPacketHeaderArgs(lua_State* L, int magicArg, PacketHeader& h) {
  bool magicOk = true;
  const int type = lua_type(L, magicArg);
  if (type == LUA_TSTRING || type == LUA_TNUMBER) {
    std::size_t n;
    const char* magic = lua_tolstring(L, magicArg, &n);
    magicOk = n == 2;
    if (magicOk) std::memcpy(h.magic, magic, 2);
  }
  h.word1 = static_cast<std::uint16_t>(optInt64(L, magicArg + 1, h.word1));
  h.word2 = static_cast<std::uint16_t>(optInt64(L, magicArg + 2, h.word2));
  return magicOk;
}

}  // namespace halvix::modules::zsocket
