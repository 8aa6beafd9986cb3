// zsocket.send, recv, recvfrom, setsendbuf, setrecvbuf: one system call each.
#include <cstdint>
#include <memory>
#include <new>

#include "modules/common/lua_conv.h"
#include "modules/zsocket/socket_functions.h"
#include "modules/zsocket/zsocket_args.h"
#include "platform/socket_io.h"

namespace halvix::modules::zsocket {
namespace {

constexpr std::size_t kScratchSize = 8192;

// The plain functions' failure: "timeout", the zero-byte message, or
// "unknow error" for every system failure.
int pushIoFailure(lua_State* L, const platform::SocketOutcome& o, const char* zeroMessage) {
  switch (o.status) {
    case platform::SocketStatus::WouldBlock: return pushFailure(L, "timeout");
    case platform::SocketStatus::Closed: return pushFailure(L, zeroMessage);
    default: return pushFailure(L, "unknow error");
  }
}

// The pointer form's destination (arguments 3 and 4), or null.
char* pointerTarget(lua_State* L) {
  if (lua_type(L, 3) != LUA_TLIGHTUSERDATA) return nullptr;
  const std::int64_t pos = optInt64(L, 4, 1);
  luaL_argcheck(L, pos >= 1, 4, "from must >=1");
  // Raw memory handed over by the application: taken as given.
  return reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(lua_touserdata(L, 3)) +
                                 static_cast<std::uintptr_t>(pos - 1));
}

// Scratch for the string forms: the fixed area up to its size, else the heap.
struct Scratch {
  char fixed[kScratchSize];
  std::unique_ptr<char[]> heap;
  char* get(std::size_t size) {
    if (size <= kScratchSize) return fixed;
    heap.reset(new (std::nothrow) char[size]);
    return heap.get();
  }
};

// The count for the pointer form, else the bytes as a string.
void pushReceived(lua_State* L, const char* target, const char* buffer, std::size_t count) {
  if (target) {
    lua_pushnumber(L, static_cast<lua_Number>(count));
  } else {
    lua_pushlstring(L, buffer, count);
  }
}

int zsend(lua_State* L) {
  const int fd = checkSocket(L, 1);
  if (fd == -1) return pushFailure(L, "closed");
  const ByteRange range = checkByteRange(L, 2);
  if (range.size == 0) {
    lua_pushinteger(L, 0);
    return 1;
  }
  // A range longer than one call may carry goes out in part; the caller sees
  // a partial send and resends the rest.
  const platform::SocketOutcome sent = platform::socketSend(fd, range.data, range.size);
  if (!sent.done()) return pushIoFailure(L, sent, "closed");
  if (sent.count == range.size) {
    lua_pushnumber(L, static_cast<lua_Number>(sent.count));
    return 1;
  }
  lua_pushnil(L);
  lua_pushliteral(L, "timeout");
  lua_pushnumber(L, static_cast<lua_Number>(sent.count));
  return 3;
}

int zrecv(lua_State* L) {
  const int fd = checkSocket(L, 1);
  if (fd == -1) return pushFailure(L, "closed");
  const std::int32_t size = checkInt32(L, 2);
  luaL_argcheck(L, size >= 0, 2, "must > 0");
  if (size == 0) {
    lua_pushliteral(L, "");
    return 1;
  }
  char* target = pointerTarget(L);
  Scratch scratch;
  char* buffer = target ? target : scratch.get(static_cast<std::size_t>(size));
  if (!buffer) return pushFailure(L, "unknow error");
  const platform::SocketOutcome got = platform::socketRecv(fd, buffer, static_cast<std::size_t>(size));
  if (!got.done()) return pushIoFailure(L, got, "closed");
  pushReceived(L, target, buffer, got.count);
  return 1;
}

int zrecvfrom(lua_State* L) {
  const int fd = checkSocket(L, 1);
  if (fd == -1) return pushFailure(L, "closed");
  const std::int32_t size = optInt32(L, 2, 8096);
  luaL_argcheck(L, size >= 0, 2, "(invalid number)");
  char* target = pointerTarget(L);
  Scratch scratch;
  char* buffer = target ? target : scratch.get(static_cast<std::size_t>(size));
  if (!buffer) return pushFailure(L, "unknow error");
  sockaddr_in from;
  const platform::SocketOutcome got = platform::socketRecvFrom(fd, buffer, static_cast<std::size_t>(size), from);
  if (!got.done()) return pushIoFailure(L, got, "no poss err");
  pushReceived(L, target, buffer, got.count);
  char address[INET_ADDRSTRLEN] = "0.0.0.0";
  if (from.sin_family == AF_INET) inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
  lua_pushstring(L, address);
  lua_pushinteger(L, from.sin_family == AF_INET ? ntohs(from.sin_port) : 0);
  return 3;
}

int setBufferSize(lua_State* L, int option) {
  const int fd = checkSocket(L, 1);
  if (fd == -1) return pushFailure(L, "closed");
  const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(optInt64(L, 2, 0)));
  lua_pushinteger(L, platform::socketSetBufferSize(fd, option, static_cast<std::int32_t>(low)));
  return 1;
}

int zsetsendbuf(lua_State* L) { return setBufferSize(L, SO_SNDBUF); }
int zsetrecvbuf(lua_State* L) { return setBufferSize(L, SO_RCVBUF); }

}  // namespace

const luaL_Reg kSocketFunctions[] = {
    {"send", zsend},
    {"recv", zrecv},
    {"recvfrom", zrecvfrom},
    {"setsendbuf", zsetsendbuf},
    {"setrecvbuf", zsetrecvbuf},
    {nullptr, nullptr},
};

}  // namespace halvix::modules::zsocket
