// CDR encode/decode of one representative message against lua-cjson,
// LuaJIT's string.buffer and lua-MessagePack, all in a state built as the
// SDK builds it. Each iteration runs kBatch operations inside Lua.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "sdk/corvel_native_impl.h"
#include "tests/support/lua_fixture.h"

namespace {

constexpr int kBatch = 100;

constexpr const char* kSetup = R"LUA(
local z = require('zsocket')
local cjson = require('cjson')
local sbuf = require('string.buffer')
local mp = dofile(MESSAGEPACK_PATH)

local head = {cmd = 'setColor', seq = 123456, dev = 'lamp-0042', ver = 3, ok = true, ts = 1733731200}
local body = {}
for i = 1, 40 do
  local k = i % 8
  local v
  if k == 0 then v = i * 1000
  elseif k == 1 then v = -i
  elseif k == 2 then v = i + 0.25
  elseif k == 3 then v = 'value-' .. i
  elseif k == 4 then v = (i % 2 == 0)
  elseif k == 5 then v = {r = 255, g = i, b = 7}
  elseif k == 6 then v = {1, 2, 3, i}
  else v = {name = 'zone' .. i, on = true, level = i / 3, tags = {'a', 'b'}} end
  body['field' .. i] = v
end
local msg = {head = head, body = body}

local dict, n = {}, 0
local function add(s) if not dict[s] then n = n + 1 dict[n] = s dict[s] = n end end
for k in pairs(head) do add(k) end
for k, v in pairs(body) do add(k) if type(v) == 'table' then for kk in pairs(v) do if type(kk) == 'string' then add(kk) end end end end

local wr_packet, rd_table, rd_header = z.cdr_wr_packet, z.cdr_rd_table, z.cdr_rd_header
local packet = wr_packet(nil, 0, nil, nil, nil, head, body)
local dpacket = wr_packet(dict, n, nil, nil, nil, head, body)
local json = cjson.encode(msg)
local sb = sbuf.encode(msg)
local mpk = mp.pack(msg)
SIZES = string.format('cdr %d, cdr+dict %d, cjson %d, string.buffer %d, MessagePack %d', #packet, #dpacket, #json, #sb, #mpk)

local B = BATCH
bench = {
  cdr_encode = function() for i = 1, B do wr_packet(nil, 0, nil, nil, nil, head, body) end end,
  cdr_decode = function()
    for i = 1, B do
      local _, _, _, len = rd_header(packet)
      local pos, h = rd_table(packet, 11)
      local _, b = rd_table(packet, pos)
    end
  end,
  cdr_dict_encode = function() for i = 1, B do wr_packet(dict, n, nil, nil, nil, head, body) end end,
  cdr_dict_decode = function()
    for i = 1, B do
      local pos, h = rd_table(dpacket, 11, dict)
      local _, b = rd_table(dpacket, pos, dict)
    end
  end,
  cjson_encode = function() for i = 1, B do cjson.encode(msg) end end,
  cjson_decode = function() for i = 1, B do cjson.decode(json) end end,
  sbuf_encode = function() for i = 1, B do sbuf.encode(msg) end end,
  sbuf_decode = function() for i = 1, B do sbuf.decode(sb) end end,
  mp_encode = function() for i = 1, B do mp.pack(msg) end end,
  mp_decode = function() for i = 1, B do mp.unpack(mpk) end end,
  api_walk = function() for i = 1, B do api_walk(head) api_walk(body) end end,
}
)LUA";

// The least any encoder working through the Lua C API must do: visit every
// key and value with lua_next and read each one, writing nothing. It bounds
// how fast an encoder written in C can get on this message.
size_t walk(lua_State* L, int index) {
  size_t seen = 0;
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    for (int at : {-2, -1}) {
      size_t len = 0;
      switch (lua_type(L, at)) {
        case LUA_TSTRING: seen += lua_tolstring(L, at, &len) != nullptr ? len : 0; break;
        case LUA_TNUMBER: seen += lua_tonumber(L, at) != 0 ? 8 : 0; break;
        case LUA_TBOOLEAN: seen += static_cast<size_t>(lua_toboolean(L, at)); break;
        case LUA_TTABLE: seen += walk(L, lua_gettop(L) + at + 1); break;
        default: break;
      }
    }
    lua_pop(L, 1);
  }
  return seen;
}

int apiWalk(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  lua_pushnumber(L, static_cast<lua_Number>(walk(L, 1)));
  return 1;
}

struct State {
  State() {
    std::string failure;
    lua = halvix::test::makeHostState(&failure);
    if (!lua) {
      std::fprintf(stderr, "state: %s\n", failure.c_str());
      std::abort();
    }
    lua_State* L = lua->state();
    lua_pushstring(L, HALVIX_MESSAGEPACK_LUA);
    lua_setglobal(L, "MESSAGEPACK_PATH");
    lua_register(L, "api_walk", apiWalk);
    lua_pushinteger(L, kBatch);
    lua_setglobal(L, "BATCH");
    if (luaL_dostring(L, kSetup) != 0) {
      std::fprintf(stderr, "setup: %s\n", lua_tostring(L, -1));
      std::abort();
    }
    lua_getglobal(L, "SIZES");
    std::printf("message sizes: %s\n", lua_tostring(L, -1));
    lua_pop(L, 1);
  }
  std::unique_ptr<halvix::sdk::CorvelNativeImpl> lua;
};

State& state() {
  static State s;
  return s;
}

void run(benchmark::State& bs, const char* name) {
  lua_State* L = state().lua->state();
  lua_getglobal(L, "bench");
  lua_getfield(L, -1, name);
  const int fn = lua_gettop(L);
  for (auto _ : bs) {
    lua_pushvalue(L, fn);
    if (lua_pcall(L, 0, 0, 0) != 0) {
      bs.SkipWithError(lua_tostring(L, -1));
      break;
    }
  }
  lua_settop(L, fn - 2);
  bs.SetItemsProcessed(bs.iterations() * kBatch);
}

#define HALVIX_CODEC_BENCH(name) \
  void name(benchmark::State& bs) { run(bs, #name); } \
  BENCHMARK(name)

HALVIX_CODEC_BENCH(cdr_encode);
HALVIX_CODEC_BENCH(cdr_decode);
HALVIX_CODEC_BENCH(cdr_dict_encode);
HALVIX_CODEC_BENCH(cdr_dict_decode);
HALVIX_CODEC_BENCH(cjson_encode);
HALVIX_CODEC_BENCH(cjson_decode);
HALVIX_CODEC_BENCH(sbuf_encode);
HALVIX_CODEC_BENCH(sbuf_decode);
HALVIX_CODEC_BENCH(mp_encode);
HALVIX_CODEC_BENCH(mp_decode);
HALVIX_CODEC_BENCH(api_walk);

}  // namespace

BENCHMARK_MAIN();
