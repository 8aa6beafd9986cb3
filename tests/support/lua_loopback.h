#pragma once
// Lua helpers that open loopback sockets with LuaSocket, shared by the tests
// and the benchmarks that move bytes through zsocket:
//   tcppair()  -> a connected, non-blocking TCP pair on 127.0.0.1 (client, server side)
//   udpbound() -> a non-blocking UDP socket bound to 127.0.0.1, and its port

namespace halvix::test {

inline constexpr const char* kLuaLoopbackHelpers = R"LUA(
function tcppair()
  local srv = assert(socket.tcp())
  assert(srv:bind('127.0.0.1', 0))
  assert(srv:listen(1))
  local _, port = srv:getsockname()
  local c = assert(socket.tcp())
  assert(c:connect('127.0.0.1', port))
  local s = assert(srv:accept())
  srv:close()
  c:settimeout(0)
  s:settimeout(0)
  return c, s
end
function udpbound()
  local u = assert(socket.udp())
  assert(u:setsockname('127.0.0.1', 0))
  u:settimeout(0)
  local _, port = u:getsockname()
  return u, tonumber(port)
end
)LUA";

}  // namespace halvix::test
