// The cdr_* functions of the zsocket module table.
#include <cstdio>

#include "modules/common/lua_conv.h"
#include "modules/zsocket/cdr.h"
#include "modules/zsocket/cdr_lua.h"
#include "modules/zsocket/packet_header.h"

namespace halvix::modules::zsocket {
namespace {

// Room for a typical message from the start, instead of growing from the
// smallest block one reallocation at a time while encoding.
constexpr std::size_t kScratchStart = 1024;

// The scratch buffer with that room made. A refusal changes nothing: the
// buffer then grows from empty as the writer asks for room.
ByteBuffer& presized(ScratchBuffer& scratch) {
  ByteBuffer& out = scratch.get();
  out.reserve(kScratchStart);
  return out;
}

// Encoders raise only after their scratch block is freed.
int pushScratch(lua_State* L, ScratchBuffer& scratch, bool ok, const char* failure) {
  ByteBuffer& out = scratch.get();
  if (!ok) {
    out.release();
    return luaL_error(L, "%s", failure);
  }
  lua_pushlstring(L, reinterpret_cast<const char*>(out.data), out.length);
  return 1;
}

int cdrWrVar(lua_State* L) {
  const int type = lua_type(L, 1);
  switch (type) {
    case LUA_TNONE:
    case LUA_TNIL:
    case LUA_TBOOLEAN:
    case LUA_TNUMBER:
    case LUA_TSTRING:
    case LUA_TTABLE:
      break;
    default:
      std::printf("unknow var type %d", type);
      std::fflush(stdout);
      return 0;
  }
  ScratchBuffer scratch;
  const int top = lua_gettop(L);
  cdr::Writer writer(L, scratch.get(), cdr::optDictionary(L, 2), cdr::toLimit(L, 3));
  const bool ok = writer.value(1);
  lua_settop(L, top);
  return pushScratch(L, scratch, ok, "wr var fail");
}

int cdrWrTable(lua_State* L) {
  ScratchBuffer scratch;
  const int top = lua_gettop(L);
  const int type = lua_type(L, 1);
  bool ok = false;
  if (type == LUA_TTABLE || type == LUA_TNIL || type == LUA_TNONE) {
    cdr::Writer writer(L, presized(scratch), cdr::optDictionary(L, 2), cdr::toLimit(L, 3));
    ok = writer.tableBody(1, 1);
  }
  lua_settop(L, top);
  return pushScratch(L, scratch, ok, "wr table fail");
}

// Shared by cdr_rd_var and cdr_rd_table: data, [pos], [dictionary].
int readAt(lua_State* L, bool table) {
  std::size_t size;
  const char* data = luaL_checklstring(L, 1, &size);
  const auto pos = static_cast<std::uint64_t>(optInt64(L, 2, 1));
  const int dict = cdr::optDictionary(L, 3);
  if (pos == 0 || pos > size) return 0;
  const int top = lua_gettop(L);
  cdr::Reader reader(L, reinterpret_cast<const unsigned char*>(data), size, dict, dict != 0 ? 3 : 0);
  reader.seek(static_cast<std::size_t>(pos - 1));
  if (!(table ? reader.tableBody(1) : reader.value(0))) {
    lua_settop(L, top);
    return 0;
  }
  lua_pushnumber(L, static_cast<double>(reader.offset() + 1));
  lua_insert(L, -2);
  return 2;
}

int cdrRdVar(lua_State* L) { return readAt(L, false); }
int cdrRdTable(lua_State* L) { return readAt(L, true); }

int cdrWrPacket(lua_State* L) {
  const cdr::PacketArgs args = cdr::checkPacketArgs(L, 1);
  ScratchBuffer scratch;
  const bool ok = cdr::appendPacket(L, args, presized(scratch));
  return pushScratch(L, scratch, ok, "wr packet fail");
}

int cdrWrPacketVa(lua_State* L) {
  const cdr::PacketArgs args = cdr::checkPacketVaArgs(L, 1);
  ScratchBuffer scratch;
  const bool ok = cdr::appendPacket(L, args, presized(scratch));
  return pushScratch(L, scratch, ok, "wr packet fail");
}

int cdrRdHeader(lua_State* L) {
  std::size_t size;
  const char* data = luaL_checklstring(L, 1, &size);
  if (size < kPacketHeaderSize) {
    lua_pushnil(L);
    lua_pushliteral(L, "bad header");
    return 2;
  }
  return pushPacketHeader(L, parsePacketHeader(reinterpret_cast<const unsigned char*>(data)));
}

}  // namespace

const luaL_Reg kCdrFunctions[] = {
    {"cdr_rd_table", cdrRdTable},
    {"cdr_rd_var", cdrRdVar},
    {"cdr_wr_table", cdrWrTable},
    {"cdr_wr_var", cdrWrVar},
    {"cdr_wr_packet", cdrWrPacket},
    {"cdr_wr_packetva", cdrWrPacketVa},
    {"cdr_rd_header", cdrRdHeader},
    {nullptr, nullptr},
};

}  // namespace halvix::modules::zsocket
