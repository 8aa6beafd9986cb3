// Moving 256 MiB over one loopback TCP connection, single-threaded with
// non-blocking sockets: the linked buffer and the byte buffer against
// LuaSocket's send/receive, zsocket's plain send/recv and a plain C loop.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "sdk/corvel_native_impl.h"
#include "tests/support/lua_fixture.h"
#include "tests/support/lua_loopback.h"

namespace {

constexpr long long kTotal = 256LL << 20;
constexpr int kPiece = 65536;

constexpr const char* kSetup = R"LUA(
local z = require('zsocket')
local data = string.rep('0123456789abcdef', PIECE / 16)
local total = TOTAL

local function check(got) assert(got == total, 'moved ' .. got .. ' of ' .. total) end

-- Queue at most this much before flushing instead of adding more.
local high = 4 * PIECE

bench = {
  linkbuf = function(chunk)
    local c, s = tcppair()
    local out, inq = z.newlinkbuf(chunk), z.newlinkbuf(chunk)
    local sent, got = 0, 0
    while got < total do
      if sent < total and out:getlen() < high then
        out:writefd(c, data)
        sent = sent + #data
      elseif not out:empty() then
        out:flushfd(c)
      end
      local n = inq:readfd(s, -1)
      if n then got = got + n; inq:drain() end
    end
    c:close(); s:close()
    check(got)
  end,
  bytebuf = function()
    local c, s = tcppair()
    local out, inq = z.newbuffer(), z.newbuffer()
    local sent, got = 0, 0
    while got < total do
      if sent < total and out:getlen() < high then
        out:writefd(c, data)
        sent = sent + #data
      elseif not out:empty() then
        out:flushfd(c)
      end
      local n = inq:readfd(s, PIECE)
      if n then got = got + n; inq:drain() end
    end
    c:close(); s:close()
    check(got)
  end,
  zsocket_plain = function()
    local c, s = tcppair()
    local sent, got, pos = 0, 0, 1
    local send, recv = z.send, z.recv
    while got < total do
      if sent < total then
        local n, err, part = send(c, data, pos)
        n = n or part or 0
        sent = sent + n
        pos = pos + n
        if pos > #data then pos = 1 end
      end
      local r = recv(s, PIECE)
      if r then got = got + #r end
    end
    c:close(); s:close()
    check(got)
  end,
  luasocket = function()
    local c, s = tcppair()
    local sent, got, pos = 0, 0, 1
    while got < total do
      if sent < total then
        local last, err, partial = c:send(data, pos)
        last = last or partial or pos - 1
        sent = sent + (last - pos + 1)
        pos = last + 1
        if pos > #data then pos = 1 end
      end
      local r, err, partial = s:receive(PIECE)
      got = got + #(r or partial)
    end
    c:close(); s:close()
    check(got)
  end,
}
)LUA";

struct State {
  State() {
    std::string failure;
    lua = halvix::test::makeHostState(&failure);
    if (!lua) {
      std::fprintf(stderr, "state: %s\n", failure.c_str());
      std::abort();
    }
    lua_State* L = lua->state();
    lua_pushnumber(L, static_cast<lua_Number>(kTotal));
    lua_setglobal(L, "TOTAL");
    lua_pushinteger(L, kPiece);
    lua_setglobal(L, "PIECE");
    if (luaL_dostring(L, halvix::test::kLuaLoopbackHelpers) != 0 || luaL_dostring(L, kSetup) != 0) {
      std::fprintf(stderr, "setup: %s\n", lua_tostring(L, -1));
      std::abort();
    }
  }
  std::unique_ptr<halvix::sdk::CorvelNativeImpl> lua;
};

State& state() {
  static State s;
  return s;
}

void runLua(benchmark::State& bs, const char* name, int argument) {
  lua_State* L = state().lua->state();
  for (auto _ : bs) {
    lua_getglobal(L, "bench");
    lua_getfield(L, -1, name);
    lua_pushinteger(L, argument);
    if (lua_pcall(L, 1, 0, 0) != 0) {
      bs.SkipWithError(lua_tostring(L, -1));
      lua_pop(L, 2);
      break;
    }
    lua_pop(L, 1);
  }
  bs.SetBytesProcessed(bs.iterations() * kTotal);
}

// A connected non-blocking TCP pair on 127.0.0.1.
bool tcpPair(int& client, int& server) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bool ok = listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(listener, 1) == 0 && ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  client = ok ? ::socket(AF_INET, SOCK_STREAM, 0) : -1;
  ok = ok && client >= 0 && ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  server = ok ? ::accept(listener, nullptr, nullptr) : -1;
  if (listener >= 0) ::close(listener);
  if (server < 0) return false;
  ::fcntl(client, F_SETFL, O_NONBLOCK);
  ::fcntl(server, F_SETFL, O_NONBLOCK);
  return true;
}

// Argument: bytes per send and receive call.
void BM_plain_c(benchmark::State& bs) {
  const auto callSize = static_cast<std::size_t>(bs.range(0));
  std::vector<char> out(kPiece, 'x'), in(callSize);
  for (auto _ : bs) {
    int c = -1, s = -1;
    if (!tcpPair(c, s)) {
      bs.SkipWithError("no loopback connection");
      break;
    }
    long long sent = 0, got = 0;
    std::size_t offset = 0;
    while (got < kTotal) {
      if (sent < kTotal) {
        ssize_t n = ::send(c, out.data() + offset, std::min(callSize, out.size() - offset), MSG_NOSIGNAL);
        if (n > 0) {
          sent += n;
          offset = (offset + static_cast<std::size_t>(n)) % out.size();
        }
      }
      ssize_t r = ::recv(s, in.data(), in.size(), 0);
      if (r > 0) got += r;
    }
    ::close(c);
    ::close(s);
  }
  bs.SetBytesProcessed(bs.iterations() * kTotal);
}

void BM_linkbuf_4k(benchmark::State& bs) { runLua(bs, "linkbuf", 4096); }
void BM_linkbuf_64k(benchmark::State& bs) { runLua(bs, "linkbuf", 65536); }
void BM_bytebuf(benchmark::State& bs) { runLua(bs, "bytebuf", 0); }
void BM_zsocket_send_recv(benchmark::State& bs) { runLua(bs, "zsocket_plain", 0); }
void BM_luasocket(benchmark::State& bs) { runLua(bs, "luasocket", 0); }

}  // namespace

BENCHMARK(BM_plain_c)->Arg(65536)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_linkbuf_4k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_linkbuf_64k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_bytebuf)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_zsocket_send_recv)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_luasocket)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
