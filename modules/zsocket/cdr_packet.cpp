// Packet framing shared by cdr_wr_packet(va) and the byte buffer's
// wr_packet(va).
#include <vector>

#include "modules/common/lua_conv.h"
#include "modules/zsocket/cdr.h"

namespace halvix::modules::zsocket::cdr {
namespace {

[[noreturn]] void packetFail(lua_State* L) {
  luaL_error(L, "wr packet fail");
  __builtin_unreachable();
}

// Magic (at `arg`), word1 and word2 into the header; a bad magic fails the packet.
void checkHeader(lua_State* L, int arg, PacketArgs& args) {
  if (!readPacketHeaderArgs(L, arg, args.header)) packetFail(L);
}

}  // namespace

PacketArgs checkPacketArgs(lua_State* L, int base) {
  PacketArgs args;
  args.dict = optDictionary(L, base);
  args.limit = toLimit(L, base + 1);
  checkHeader(L, base + 2, args);
  const int head = base + 5, body = base + 6, start = base + 7, end = base + 8;
  if (lua_istable(L, head)) {
    args.head = PacketArgs::Head::Table;
    args.headIndex = head;
  } else if (!lua_isnoneornil(L, body)) {
    args.head = PacketArgs::Head::Empty;
  }
  switch (lua_type(L, body)) {
    case LUA_TSTRING: {
      std::size_t n;
      const char* s = lua_tolstring(L, body, &n);
      std::uint64_t first = lua_isnumber(L, start) ? static_cast<std::uint64_t>(toInt64(lua_tonumber(L, start))) : 1;
      if (first == 0) first = 1;
      if (first > n) packetFail(L);
      args.body = PacketArgs::Body::Bytes;
      args.bytes = reinterpret_cast<const unsigned char*>(s) + (first - 1);
      args.byteCount = n - (first - 1);
      break;
    }
    case LUA_TTABLE:
      args.body = PacketArgs::Body::Table;
      args.bodyIndex = body;
      break;
    case LUA_TLIGHTUSERDATA: {
      auto first = static_cast<std::uint64_t>(optInt64(L, start, 1));
      const auto last = static_cast<std::uint64_t>(checkInt64(L, end));
      if (first == 0) first = 1;
      args.body = PacketArgs::Body::Bytes;
      if (first <= last) {
        const std::uint64_t count = last - first + 1;
        if (count == 0 || count > ByteBuffer::kMaxCapacity) packetFail(L);
        const auto pointer = reinterpret_cast<std::uintptr_t>(lua_touserdata(L, body)) + (first - 1);
        args.bytes = reinterpret_cast<const unsigned char*>(pointer);
        args.byteCount = static_cast<std::size_t>(count);
      }
      break;
    }
    default:
      break;
  }
  return args;
}

PacketArgs checkPacketVaArgs(lua_State* L, int base) {
  PacketArgs args;
  args.dict = optDictionary(L, base);
  args.limit = toLimit(L, base + 1);
  const std::int32_t nhead = optInt32(L, base + 2, 0);
  const std::int32_t nbody = optInt32(L, base + 3, 0);
  const int nargs = lua_gettop(L);
  const std::int64_t expected = std::int64_t{base} - 1 + 2 * (std::int64_t{nhead} + nbody) + 7;
  // Negative counts would make the pair lists overlap the header arguments.
  if (nhead < 0 || nbody < 0 || nargs != expected) {
    luaL_error(L, "arg num not match va cnt %d((%d+%d)*2+5)", nargs, static_cast<int>(nhead), static_cast<int>(nbody));
  }
  checkHeader(L, base + 4, args);
  args.head = PacketArgs::Head::Pairs;
  args.headIndex = base + 7;
  args.headPairs = nhead;
  args.body = PacketArgs::Body::Pairs;
  args.bodyIndex = base + 7 + 2 * nhead;
  args.bodyPairs = nbody;
  return args;
}

bool appendPacket(lua_State* L, const PacketArgs& args, ByteBuffer& out) {
  const int top = lua_gettop(L);
  const std::size_t start = out.length;
  // A raw body may point into `out` itself, whose block can move below.
  std::vector<unsigned char> aside;
  const unsigned char* bytes = args.bytes;
  const std::size_t room = ByteBuffer::kMaxCapacity - out.misalign - out.length;
  if (args.body == PacketArgs::Body::Bytes && args.byteCount > room) return false;
  if (args.body == PacketArgs::Body::Bytes && out.overlapsStorage(bytes, args.byteCount)) {
    aside.assign(bytes, bytes + args.byteCount);
    bytes = aside.data();
  }
  Writer writer(L, out, args.dict, args.limit);
  unsigned char header[kPacketHeaderSize];
  encodePacketHeader(args.header, header);
  bool ok = out.append(header, sizeof header);
  if (ok) {
    switch (args.head) {
      case PacketArgs::Head::None: break;
      case PacketArgs::Head::Empty: ok = writer.byte(0); break;
      case PacketArgs::Head::Table: ok = writer.tableBody(args.headIndex, 1); break;
      case PacketArgs::Head::Pairs: ok = writer.argPairs(args.headIndex, args.headPairs); break;
    }
  }
  if (ok) {
    switch (args.body) {
      case PacketArgs::Body::None: break;
      case PacketArgs::Body::Bytes: ok = out.append(bytes, args.byteCount); break;
      case PacketArgs::Body::Table: ok = writer.tableBody(args.bodyIndex, 1); break;
      case PacketArgs::Body::Pairs: ok = writer.argPairs(args.bodyIndex, args.bodyPairs); break;
    }
  }
  const std::size_t bodyLength = ok ? out.length - start - sizeof header : 0;
  if (ok && bodyLength <= UINT32_MAX) {
    encodeBodyLength(static_cast<std::uint32_t>(bodyLength), header);
    return out.overwrite(start, header, sizeof header);
  }
  lua_settop(L, top);
  if (start == 0) {
    out.reset();
  } else {
    out.truncate(start);
  }
  return false;
}

}  // namespace halvix::modules::zsocket::cdr
