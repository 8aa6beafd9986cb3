// irpacker.pack and irpacker.unpack of a 200-value infrared code, called
// from Lua in a state built as the SDK builds it.
#include <cstdlib>
#include <memory>

#include <benchmark/benchmark.h>
#include <lua.hpp>

#include "sdk/corvel_native_impl.h"
#include "tests/support/lua_fixture.h"

namespace {

// Builds the codes and two Lua functions, each doing one call per invocation.
constexpr const char* kSetup = R"LUA(
  math.randomseed(1)
  -- A typical remote-control frame: leader, then 99 mark/space pairs with jitter.
  local typical = {9000, 4500}
  for i = 1, 99 do
    typical[#typical + 1] = 560 + math.random(-20, 20)
    typical[#typical + 1] = (math.random() < 0.5 and 560 or 1690) + math.random(-20, 20)
  end
  -- Values scattered over the whole table, so that hardly any run forms.
  local scattered = {}
  for i = 1, 200 do scattered[i] = math.random(206, 64389) end
  bench_codes = {typical = typical, scattered = scattered}
  bench_packed = {typical = irpacker.pack(typical), scattered = irpacker.pack(scattered)}
  assert(#typical == 200 and #scattered == 200)
  bench_pack = function(kind) return irpacker.pack(bench_codes[kind]) end
  bench_unpack = function(kind) return irpacker.unpack(bench_packed[kind]) end
)LUA";

class State {
 public:
  State() : lua_(halvix::test::makeHostState(nullptr, 100)) {
    if (!lua_ || !lua_->doString(kSetup)) std::abort();
  }
  lua_State* L() const { return lua_->state(); }

 private:
  std::unique_ptr<halvix::sdk::CorvelNativeImpl> lua_;
};

void callFromLua(benchmark::State& st, const char* function, const char* kind) {
  State s;
  lua_State* L = s.L();
  lua_getglobal(L, "bench_packed");
  lua_getfield(L, -1, kind);
  st.counters["packed_bytes"] = static_cast<double>(lua_objlen(L, -1));
  lua_pop(L, 2);
  for (auto _ : st) {
    lua_getglobal(L, function);
    lua_pushstring(L, kind);
    if (lua_pcall(L, 1, 1, 0) != 0) {
      st.SkipWithError(lua_tostring(L, -1));
      break;
    }
    benchmark::DoNotOptimize(lua_topointer(L, -1));
    lua_pop(L, 1);
  }
  st.SetItemsProcessed(st.iterations() * 200);
}

void BM_PackTypical(benchmark::State& st) { callFromLua(st, "bench_pack", "typical"); }
void BM_UnpackTypical(benchmark::State& st) { callFromLua(st, "bench_unpack", "typical"); }
void BM_PackScattered(benchmark::State& st) { callFromLua(st, "bench_pack", "scattered"); }
void BM_UnpackScattered(benchmark::State& st) { callFromLua(st, "bench_unpack", "scattered"); }

BENCHMARK(BM_PackTypical);
BENCHMARK(BM_UnpackTypical);
BENCHMARK(BM_PackScattered);
BENCHMARK(BM_UnpackScattered);

}  // namespace

BENCHMARK_MAIN();
