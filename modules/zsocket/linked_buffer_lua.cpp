// ZLINKBUFMT: the Lua face of LinkedBuffer.
#include <cstdint>
#include <memory>
#include <new>

#include "modules/common/lua_conv.h"
#include "modules/zsocket/linked_buffer.h"
#include "modules/zsocket/linked_buffer_lua.h"
#include "modules/zsocket/zsocket_args.h"
#include "modules/zsocket/packet_header.h"

namespace halvix::modules::zsocket {
namespace {

constexpr const char* kMeta = "ZLINKBUFMT";

LinkedBuffer& check(lua_State* L, int arg) {
  return *static_cast<LinkedBuffer*>(luaL_checkudata(L, arg, kMeta));
}

int pushOutcome(lua_State* L, const LinkedBuffer::Outcome& o) {
  switch (o.status) {
    case LinkedBuffer::Status::Done:
      lua_pushboolean(L, 1);
      return 1;
    case LinkedBuffer::Status::Pending:
      return pushFailure(L, "timeout");
    case LinkedBuffer::Status::Closed:
      return pushFailure(L, "closed");
    case LinkedBuffer::Status::Error:
      break;
  }
  return pushSystemError(L, o.error);
}

int lbGc(lua_State* L) {
  check(L, 1).reset();
  return 0;
}

int lbSwap(lua_State* L) {
  LinkedBuffer& a = check(L, 1);
  LinkedBuffer& b = check(L, 2);
  a.swap(b);
  return 0;
}

int lbGetlen(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(check(L, 1).length()));
  return 1;
}

int lbReset(lua_State* L) {
  check(L, 1).reset();
  return 0;
}

int lbPut(lua_State* L) {
  LinkedBuffer& b = check(L, 1);
  ByteRange range = checkByteRange(L, 2);
  if (!b.append(range.data, range.size)) return 0;
  lua_pushboolean(L, 1);
  return 1;
}

int lbRemove(lua_State* L) {
  LinkedBuffer& b = check(L, 1);
  const auto n = static_cast<std::uint64_t>(checkInt64(L, 2));
  const std::size_t k = n < b.length() ? static_cast<std::size_t>(n) : b.length();
  if (const char* front = b.contiguousFront(k)) {
    lua_pushlstring(L, front, k);
  } else {
    std::unique_ptr<char[]> scratch(new (std::nothrow) char[k]);
    if (!scratch) return 0;
    b.peek(scratch.get(), k);
    lua_pushlstring(L, scratch.get(), k);
  }
  b.consume(k);
  return 1;
}

int lbDrain(lua_State* L) {
  LinkedBuffer& b = check(L, 1);
  const std::int32_t n = optInt32(L, 2, INT32_MAX);
  b.consume(n < 0 ? SIZE_MAX : static_cast<std::size_t>(n));
  return 0;
}

int lbEmpty(lua_State* L) {
  lua_pushboolean(L, !check(L, 1).hasChunks());
  return 1;
}

int lbFlushfd(lua_State* L) {
  LinkedBuffer& b = check(L, 1);
  const int fd = checkSocket(L, 2);
  return pushOutcome(L, b.flushAvailable(fd));
}

int lbReadfd(lua_State* L) {
  LinkedBuffer& b = check(L, 1);
  const int fd = checkSocket(L, 2);
  const std::int32_t n = checkInt32(L, 3);
  if (n == 0) {
    lua_pushinteger(L, 0);
    return 1;
  }
  LinkedBuffer::Outcome o = b.readFrom(fd, n);
  if (o.status != LinkedBuffer::Status::Done) return pushOutcome(L, o);
  lua_pushnumber(L, static_cast<lua_Number>(o.count));
  return 1;
}

int lbWritefd(lua_State* L) {
  LinkedBuffer& b = check(L, 1);
  const int fd = checkSocket(L, 2);
  ByteRange range = checkByteRange(L, 3);
  return pushOutcome(L, b.write(fd, range.data, range.size));
}

int lbRdHeader(lua_State* L) {
  LinkedBuffer& b = check(L, 1);
  const bool consume = lua_toboolean(L, 2);
  if (b.length() < kPacketHeaderSize) return pushFailure(L, "timeout");
  unsigned char bytes[kPacketHeaderSize];
  b.peek(reinterpret_cast<char*>(bytes), kPacketHeaderSize);
  int results = pushPacketHeader(L, parsePacketHeader(bytes));
  if (consume) b.consume(kPacketHeaderSize);
  return results;
}

const luaL_Reg kMethods[] = {
    {"new", newLinkedBuffer},
    {"swap", lbSwap},
    {"getlen", lbGetlen},
    {"reset", lbReset},
    {"put", lbPut},
    {"remove", lbRemove},
    {"drain", lbDrain},
    {"empty", lbEmpty},
    {"flushfd", lbFlushfd},
    {"readfd", lbReadfd},
    {"writefd", lbWritefd},
    {"rd_header", lbRdHeader},
    {nullptr, nullptr},
};

}  // namespace

int newLinkedBuffer(lua_State* L) {
  std::size_t chunkSize = LinkedBuffer::kDefaultChunkSize;
  if (!lua_isnoneornil(L, 1)) {
    const std::int64_t requested = checkInt64(L, 1);
    luaL_argcheck(L, requested >= 0, 1, "chunk size must not be negative");
    if (requested > 0) chunkSize = static_cast<std::size_t>(requested);
  }
  void* block = lua_newuserdata(L, sizeof(LinkedBuffer));
  new (block) LinkedBuffer(chunkSize);
  luaL_getmetatable(L, kMeta);
  lua_setmetatable(L, -2);
  return 1;
}

void registerLinkedBufferMeta(lua_State* L) { registerMetatable(L, kMeta, kMethods, lbGc); }

}  // namespace halvix::modules::zsocket
