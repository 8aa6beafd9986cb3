// ZBUFFERMT: the byte buffer's Lua methods.
#include <cerrno>
#include <cstdint>
#include <new>

#include "modules/common/lua_conv.h"
#include "modules/zsocket/byte_buffer.h"
#include "modules/zsocket/byte_buffer_lua.h"
#include "modules/zsocket/cdr.h"
#include "modules/zsocket/packet_header.h"
#include "modules/zsocket/zsocket_args.h"
#include "platform/socket_io.h"

namespace halvix::modules::zsocket {
namespace {

constexpr const char* kMetaName = "ZBUFFERMT";
constexpr std::int64_t kDefaultRead = 4096;

ByteBuffer* checkBuffer(lua_State* L, int arg) {
  return static_cast<ByteBuffer*>(luaL_checkudata(L, arg, kMetaName));
}

// Counts and positions are compared as unsigned: a negative one is huge.
std::uint64_t checkCount(lua_State* L, int arg) { return static_cast<std::uint64_t>(checkInt64(L, arg)); }

int pushTrue(lua_State* L) {
  lua_pushboolean(L, 1);
  return 1;
}

int pushTimeout(lua_State* L) { return pushFailure(L, "timeout"); }

int bufferGc(lua_State* L) {
  checkBuffer(L, 1)->release();
  return 0;
}

int bufferSwap(lua_State* L) {
  ByteBuffer* a = checkBuffer(L, 1);
  ByteBuffer* b = checkBuffer(L, 2);
  a->swap(*b);
  return 0;
}

int bufferGetLen(lua_State* L) {
  lua_pushnumber(L, static_cast<double>(checkBuffer(L, 1)->length));
  return 1;
}

int bufferEmpty(lua_State* L) {
  lua_pushboolean(L, checkBuffer(L, 1)->length == 0);
  return 1;
}

int bufferExpand(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const std::int64_t n = checkInt64(L, 2);
  if (n < 1) return pushTrue(L);
  if (static_cast<std::uint64_t>(n) > ByteBuffer::kMaxCapacity || !b->expand(static_cast<std::size_t>(n))) return 0;
  return pushTrue(L);
}

int bufferPut(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const ByteRange range = checkByteRange(L, 2);
  if (!b->append(range.data, range.size)) return 0;
  return pushTrue(L);
}

int bufferAddBuffer(lua_State* L) {
  ByteBuffer* dst = checkBuffer(L, 1);
  ByteBuffer* src = checkBuffer(L, 2);
  if (dst == src) return pushTrue(L);
  if (dst->length == 0) {
    dst->swap(*src);
    src->reset();
    return pushTrue(L);
  }
  if (!dst->append(src->data, src->length)) return 0;
  src->reset();
  return pushTrue(L);
}

int bufferDrain(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const std::uint64_t n = lua_isnoneornil(L, 2) ? b->length : checkCount(L, 2);
  b->consume(n > b->length ? b->length : static_cast<std::size_t>(n));
  if (lua_isnumber(L, 3)) {
    const std::int64_t extra = toInt64(lua_tonumber(L, 3));
    if (extra >= 0) {
      const auto grow = static_cast<std::uint64_t>(extra);
      if (grow <= ByteBuffer::kMaxCapacity && b->expand(static_cast<std::size_t>(grow))) {
        b->commit(static_cast<std::size_t>(grow));
      }
    } else {
      const std::uint64_t cut = 0 - static_cast<std::uint64_t>(extra);
      b->truncate(cut >= b->length ? 0 : b->length - static_cast<std::size_t>(cut));
    }
  }
  return 0;
}

int bufferReset(lua_State* L) {
  checkBuffer(L, 1)->reset();
  return 0;
}

int bufferRollback(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const std::uint64_t n = checkCount(L, 2);
  b->rollback(static_cast<std::size_t>(n));
  return 0;
}

int bufferRemove(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const std::uint64_t n = checkCount(L, 2);
  const std::size_t k = n < b->length ? static_cast<std::size_t>(n) : b->length;
  lua_pushlstring(L, reinterpret_cast<const char*>(b->data), k);
  b->consume(k);
  return 1;
}

int bufferReadLine(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const unsigned char* p = b->data;
  for (std::size_t i = 0; i < b->length; ++i) {
    const unsigned char c = p[i];
    if (c != '\r' && c != '\n') continue;
    lua_pushlstring(L, reinterpret_cast<const char*>(p), i);
    std::size_t used = i + 1;
    if (used < b->length && (p[used] == '\r' || p[used] == '\n') && p[used] != c) ++used;
    b->consume(used);
    return 1;
  }
  return 0;
}

int bufferReadFd(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const int fd = checkSocket(L, 2);
  std::int64_t n = checkInt32(L, 3);
  if (n == 0) {
    lua_pushnumber(L, 0);
    return 1;
  }
  std::int64_t figure = kDefaultRead;
  const long pending = platform::socketPending(fd);
  if (pending > 0) {
    figure = pending;
    if (pending > kDefaultRead && pending > n) {
      const std::uint64_t fourTimes = b->capacity > UINT32_MAX ? UINT64_MAX : std::uint64_t{b->capacity} * 4;
      figure = static_cast<std::uint64_t>(pending) < fourTimes ? pending : static_cast<std::int64_t>(fourTimes);
      if (figure < kDefaultRead) figure = kDefaultRead;
    }
  }
  if (n < 0 || n > figure) n = figure;
  // More could not arrive in one call anyway; do not grow for it.
  if (static_cast<std::uint64_t>(n) > platform::kMaxTransfer) n = static_cast<std::int64_t>(platform::kMaxTransfer);
  const auto want = static_cast<std::size_t>(n);
  if (!b->expand(want)) return pushSystemError(L, ENOMEM);
  const platform::SocketOutcome got = platform::socketRecv(fd, b->end(), want);
  if (!got.done()) return pushTransferFailure(L, got);
  b->commit(got.count);
  lua_pushnumber(L, static_cast<double>(got.count));
  return 1;
}

int bufferWriteFd(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const int fd = checkSocket(L, 2);
  const ByteRange range = checkByteRange(L, 3);
  if (range.size == 0) return pushTrue(L);
  std::size_t sent = 0;
  if (b->length == 0) {
    const platform::SocketOutcome result = platform::socketSend(fd, range.data, range.size);
    if (result.done()) {
      sent = result.count;
    } else if (result.status != platform::SocketStatus::WouldBlock) {
      return pushTransferFailure(L, result);
    }
  }
  if (!b->append(range.data + sent, range.size - sent)) return pushSystemError(L, ENOMEM);
  return b->length == 0 ? pushTrue(L) : pushTimeout(L);
}

int bufferFlushFd(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const int fd = checkSocket(L, 2);
  const platform::SocketOutcome result = platform::socketSend(fd, b->data, b->length);
  if (!result.done()) return pushTransferFailure(L, result);
  b->consume(result.count);
  return b->length == 0 ? pushTrue(L) : pushTimeout(L);
}

int bufferGetPtr(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  std::int64_t i = optInt64(L, 2, 1);
  const std::int64_t j = optInt64(L, 3, static_cast<std::int64_t>(b->length));
  if (i == 0) i = 1;
  if (static_cast<std::uint64_t>(i) > static_cast<std::uint64_t>(j)) {
    i = static_cast<std::int64_t>(static_cast<std::uint64_t>(j) + 1);
  }
  // Plain address arithmetic: the pointer is only handed to Lua, never used here.
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(b->data) + static_cast<std::uint64_t>(i) - 1;
  lua_pushlightuserdata(L, reinterpret_cast<void*>(address));
  lua_pushnumber(L, static_cast<double>(i));
  lua_pushnumber(L, static_cast<double>(j));
  return 3;
}

int bufferRdHeader(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const bool consume = lua_toboolean(L, 2);
  if (b->length < kPacketHeaderSize) return pushTimeout(L);
  const int results = pushPacketHeader(L, parsePacketHeader(b->data));
  if (consume) b->consume(kPacketHeaderSize);
  return results;
}

int bufferSetHeader(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const std::int32_t offset = optInt32(L, 2, 0);
  PacketHeader header;
  const bool magicOk = readPacketHeaderArgs(L, 3, header);
  header.bodyLength = static_cast<std::uint32_t>(optInt64(L, 6, 0));
  if (offset < 0 || !magicOk) return 0;
  unsigned char bytes[kPacketHeaderSize];
  encodePacketHeader(header, bytes);
  if (!b->overwrite(static_cast<std::size_t>(offset), bytes, sizeof bytes)) return 0;
  return pushTrue(L);
}

// The packet goes behind whatever the buffer holds, so that a non-empty
// buffer queues whole packets instead of corrupting its first bytes.
int bufferWrPacket(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const cdr::PacketArgs args = cdr::checkPacketArgs(L, 2);
  if (!cdr::appendPacket(L, args, *b)) return luaL_error(L, "wr packet fail");
  lua_pushvalue(L, 1);
  return 1;
}

int bufferWrPacketVa(lua_State* L) {
  ByteBuffer* b = checkBuffer(L, 1);
  const cdr::PacketArgs args = cdr::checkPacketVaArgs(L, 2);
  if (!cdr::appendPacket(L, args, *b)) return luaL_error(L, "wr packet fail");
  lua_pushvalue(L, 1);
  return 1;
}

const luaL_Reg kMethods[] = {
    {"new", newByteBuffer},
    {"swap", bufferSwap},
    {"getlen", bufferGetLen},
    {"empty", bufferEmpty},
    {"expand", bufferExpand},
    {"put", bufferPut},
    {"addbuffer", bufferAddBuffer},
    {"drain", bufferDrain},
    {"reset", bufferReset},
    {"rollback", bufferRollback},
    {"remove", bufferRemove},
    {"readline", bufferReadLine},
    {"flushfd", bufferFlushFd},
    {"readfd", bufferReadFd},
    {"writefd", bufferWriteFd},
    {"getptr", bufferGetPtr},
    {"rd_header", bufferRdHeader},
    {"set_header", bufferSetHeader},
    {"wr_packet", bufferWrPacket},
    {"wr_packetva", bufferWrPacketVa},
    {nullptr, nullptr},
};

}  // namespace

int newByteBuffer(lua_State* L) {
  new (lua_newuserdata(L, sizeof(ByteBuffer))) ByteBuffer{};
  luaL_getmetatable(L, kMetaName);
  lua_setmetatable(L, -2);
  return 1;
}

void registerByteBufferMeta(lua_State* L) { registerMetatable(L, kMetaName, kMethods, bufferGc); }

}  // namespace halvix::modules::zsocket
