// Checksum throughput called from Lua against zlib and against the plain
// byte-at-a-time loops, and zpack/zunpack of a 12-field record against the
// same record built with LuaJIT's string.buffer and FFI. After the run the
// goal ratios (of CPU time, which other load on the machine disturbs least)
// are printed.
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <lua.hpp>
#include <zlib.h>

#include "modules/registration.h"
#include "modules/zstr/crc.h"

namespace {

using namespace halvix::modules;

struct LuaCloser {
  void operator()(lua_State* L) const { lua_close(L); }
};

const char* const kRecordCode = R"LUA(
local ffi = require('ffi')
local buffer = require('string.buffer')
ffi.cdef[[
struct bench_record_head {
  uint16_t kind, seq; uint32_t device; int32_t delta; uint8_t r, g; int16_t level;
  float gain; double stamp;
} __attribute__((packed));
]]
local head_p = ffi.typeof('struct bench_record_head *')
local head_size = ffi.sizeof('struct bench_record_head')
local fmt = '<HHIibbhfdzpe'
local values = {513, 7, 3000000000, -42, 200, 17, -300, 1.5, 1700000000.25, 'living-room-lamp', string.rep('\7', 40), 123456}
local buf = buffer.new()
local char = string.char

local function pack_ffi(kind, seq, device, delta, r, g, level, gain, stamp, name, payload, extra)
  buf:reset()
  local h = ffi.cast(head_p, buf:reserve(head_size))
  h.kind, h.seq, h.device, h.delta, h.r, h.g, h.level, h.gain, h.stamp = kind, seq, device, delta, r, g, level, gain, stamp
  buf:commit(head_size)
  buf:put(name, '\0', char(#payload % 256), payload)
  while extra >= 128 do
    buf:put(char(extra % 128 + 128))
    extra = math.floor(extra / 128)
  end
  buf:put(char(extra))
  return buf:tostring()
end

local function unpack_ffi(s)
  local p = ffi.cast('const uint8_t *', s)
  local h = ffi.cast(head_p, p)
  local pos = head_size
  local nul = s:find('\0', pos + 1, true)
  local name = s:sub(pos + 1, nul - 1)
  pos = nul
  local plen = p[pos]
  local payload = s:sub(pos + 2, pos + 1 + plen)
  pos = pos + 1 + plen
  local extra, shift = 0, 1
  repeat
    local b = p[pos]
    extra = extra + (b % 128) * shift
    shift = shift * 128
    pos = pos + 1
  until b < 128
  return pos + 1, h.kind, h.seq, h.device, h.delta, h.r, h.g, h.level, h.gain, h.stamp, name, payload, extra
end

local packed = zpack(fmt, unpack(values))
assert(pack_ffi(unpack(values)) == packed, 'FFI record differs from zpack')
local a, b = {unpack_ffi(packed)}, {zunpack(packed, fmt)}
for k = 1, #b do assert(a[k] == b[k], 'FFI unpack differs at ' .. k) end

local reps = 100
return {
  zpack = function() for _ = 1, reps do zpack(fmt, 513, 7, 3000000000, -42, 200, 17, -300, 1.5, 1700000000.25, 'living-room-lamp', values[11], 123456) end end,
  zunpack = function() for _ = 1, reps do zunpack(packed, fmt) end end,
  pack_ffi = function() for _ = 1, reps do pack_ffi(513, 7, 3000000000, -42, 200, 17, -300, 1.5, 1700000000.25, 'living-room-lamp', values[11], 123456) end end,
  unpack_ffi = function() for _ = 1, reps do unpack_ffi(packed) end end,
  reps = reps,
}
)LUA";

class Fixture {
 public:
  Fixture() : L_(luaL_newstate()) {
    luaL_openlibs(L_.get());
    for (const luaL_Reg* f = kZstrFunctions; f->name; ++f) {
      lua_pushcfunction(L_.get(), f->func);
      lua_setglobal(L_.get(), f->name);
    }
    std::mt19937 rng(1);
    data_.resize(std::size_t{1} << 20);
    for (char& c : data_) c = static_cast<char>(rng());
    if (luaL_dostring(L_.get(), kRecordCode) != 0) {
      std::fprintf(stderr, "record setup failed: %s\n", lua_tostring(L_.get(), -1));
      std::abort();
    }
    lua_setglobal(L_.get(), "record_bench");
  }

  lua_State* L() const { return L_.get(); }
  const std::string& data() const { return data_; }

 private:
  std::unique_ptr<lua_State, LuaCloser> L_;
  std::string data_;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_LuaCrc(benchmark::State& state, const char* name) {
  lua_State* L = fixture().L();
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string bytes = fixture().data().substr(0, size);
  lua_getglobal(L, name);
  const int fn = lua_gettop(L);
  lua_pushlstring(L, bytes.data(), bytes.size());
  const int str = lua_gettop(L);
  for (auto _ : state) {
    lua_pushvalue(L, fn);
    lua_pushinteger(L, 0);
    lua_pushvalue(L, str);
    lua_call(L, 2, 1);
    benchmark::DoNotOptimize(lua_tonumber(L, -1));
    lua_pop(L, 1);
  }
  lua_settop(L, fn - 1);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// zcrc32(0, s) on a 32-byte string, called from a Lua loop as an application
// would: the cost of one call, checksum included.
void BM_LuaCrc32ShortCalls(benchmark::State& state) {
  lua_State* L = fixture().L();
  constexpr int kCalls = 100000;
  if (luaL_loadstring(L, "local f, s, n = zcrc32, string.rep('\\171', 32), ... "
                         "return function() for i = 1, n do f(0, s) end end") != 0) {
    state.SkipWithError(lua_tostring(L, -1));
    return;
  }
  lua_pushinteger(L, kCalls);
  lua_call(L, 1, 1);
  const int fn = lua_gettop(L);
  for (auto _ : state) {
    lua_pushvalue(L, fn);
    lua_call(L, 0, 0);
  }
  lua_settop(L, fn - 1);
  state.SetItemsProcessed(state.iterations() * kCalls);
}

template <typename T, T (*Fn)(T, const unsigned char*, std::size_t)>
void BM_Native(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto* p = reinterpret_cast<const unsigned char*>(fixture().data().data());
  for (auto _ : state) benchmark::DoNotOptimize(Fn(0, p, size));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto* p = reinterpret_cast<const Bytef*>(fixture().data().data());
  for (auto _ : state) benchmark::DoNotOptimize(crc32_z(0, p, size));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_Record(benchmark::State& state, const char* which) {
  lua_State* L = fixture().L();
  lua_getglobal(L, "record_bench");
  lua_getfield(L, -1, which);
  lua_getfield(L, -2, "reps");
  const auto reps = static_cast<std::int64_t>(lua_tonumber(L, -1));
  lua_pop(L, 1);
  const int fn = lua_gettop(L);
  for (auto _ : state) {
    lua_pushvalue(L, fn);
    lua_call(L, 0, 0);
  }
  lua_settop(L, fn - 2);
  state.SetItemsProcessed(state.iterations() * reps);
}

constexpr std::int64_t k4K = 4096, k1M = 1 << 20;

BENCHMARK_CAPTURE(BM_LuaCrc, zcrc8, "zcrc8")->Arg(k4K)->Arg(k1M);
BENCHMARK_CAPTURE(BM_LuaCrc, zcrc16, "zcrc16")->Arg(k4K)->Arg(k1M);
BENCHMARK_CAPTURE(BM_LuaCrc, zcrcA001, "zcrcA001")->Arg(k4K)->Arg(k1M);
BENCHMARK_CAPTURE(BM_LuaCrc, zcrc32, "zcrc32")->Arg(k4K)->Arg(k1M);
BENCHMARK(BM_ZlibCrc32)->Arg(32)->Arg(k4K)->Arg(k1M);
BENCHMARK(BM_Native<std::uint32_t, zstr::crc32NoInvert>)->Name("BM_Native/crc32")->Arg(32)->Arg(k4K)->Arg(k1M);
BENCHMARK(BM_LuaCrc32ShortCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Native<std::uint8_t, zstr::crc8Plain>)->Name("BM_PlainLoop/crc8")->Arg(k4K)->Arg(k1M);
BENCHMARK(BM_Native<std::uint16_t, zstr::crc16Plain>)->Name("BM_PlainLoop/crc16")->Arg(k4K)->Arg(k1M);
BENCHMARK(BM_Native<std::uint16_t, zstr::crcA001Plain>)->Name("BM_PlainLoop/crcA001")->Arg(k4K)->Arg(k1M);
BENCHMARK(BM_Native<std::uint16_t, zstr::crcA001NibblePlain>)->Name("BM_PlainLoop/crcA001_nibbles")->Arg(k4K)->Arg(k1M);
BENCHMARK_CAPTURE(BM_Record, zpack, "zpack");
BENCHMARK_CAPTURE(BM_Record, pack_ffi, "pack_ffi");
BENCHMARK_CAPTURE(BM_Record, zunpack, "zunpack");
BENCHMARK_CAPTURE(BM_Record, unpack_ffi, "unpack_ffi");

// Keeps each run's time per iteration so the goal ratios come from this run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }

  void printRatios() const {
    std::printf("\nGoal ratios (this run):\n");
    for (const char* size : {"4096", "1048576"}) {
      ratio("zcrc32 / zlib crc32", "BM_LuaCrc/zcrc32/", "BM_ZlibCrc32/", size, "<= 0.33 on 1 MiB");
      ratio("plain crc8 / zcrc8", "BM_PlainLoop/crc8/", "BM_LuaCrc/zcrc8/", size, ">= 4");
      ratio("plain crc16 / zcrc16", "BM_PlainLoop/crc16/", "BM_LuaCrc/zcrc16/", size, ">= 4");
      ratio("plain crcA001 / zcrcA001", "BM_PlainLoop/crcA001/", "BM_LuaCrc/zcrcA001/", size, ">= 4");
      ratio("nibble crcA001 / zcrcA001", "BM_PlainLoop/crcA001_nibbles/", "BM_LuaCrc/zcrcA001/", size, "(info)");
    }
    ratio("zpack / string.buffer+FFI", "BM_Record/zpack", "BM_Record/pack_ffi", "", "(info)");
    ratio("zunpack / FFI", "BM_Record/zunpack", "BM_Record/unpack_ffi", "", "(info)");
  }

 private:
  void ratio(const char* what, const std::string& a, const std::string& b, const std::string& size,
             const char* goal) const {
    const auto ia = times_.find(a + size), ib = times_.find(b + size);
    if (ia == times_.end() || ib == times_.end()) return;
    std::printf("  %-28s %-8s %7.2f   goal %s\n", what, size.empty() ? "" : size.c_str(), ia->second / ib->second,
                goal);
  }

  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
