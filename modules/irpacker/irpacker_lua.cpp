// The `irpacker` module: pack and unpack of infrared timing sequences.
#include <cstdint>
#include <string>
#include <vector>

#include "modules/common/lua_conv.h"
#include "modules/irpacker/irpacker_codec.h"
#include "modules/registration.h"

namespace halvix::modules {
namespace {

// A number truncated toward zero (numeric strings converted, anything else
// 0), cut to its low 16 bits.
std::uint16_t timingAt(lua_State* L, int idx) {
  const auto v = static_cast<std::uint64_t>(toInt64(lua_tonumber(L, idx)));
  return static_cast<std::uint16_t>(v & 0xffffu);
}

int pack(lua_State* L) {
  if (!lua_istable(L, 1)) return luaL_error(L, "params 1 must be a table");
  bool tooLong = false;
  {
    std::vector<std::uint16_t> values;
    for (int i = 1;; ++i) {
      lua_rawgeti(L, 1, i);
      if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        break;
      }
      values.push_back(timingAt(L, -1));
      lua_pop(L, 1);
    }
    std::string out;
    if (irpacker::pack(values, out) == irpacker::PackStatus::Ok) {
      lua_pushlstring(L, out.data(), out.size());
    } else {
      tooLong = true;
    }
  }
  if (tooLong) {
    return luaL_error(L, "packed code longer than %d bytes", static_cast<int>(irpacker::kMaxPacked));
  }
  return 1;
}

int unpack(lua_State* L) {
  size_t len = 0;
  const char* data = luaL_checklstring(L, 1, &len);
  const auto fr = static_cast<std::uint64_t>(optInt64(L, 2, 1));
  const auto to = static_cast<std::uint64_t>(optInt64(L, 3, static_cast<std::int64_t>(len)));
  // Positions are unsigned: a negative one is far beyond any data.
  if (fr == 0 || fr > to || to > len) return luaL_error(L, "fr or to is bad");
  if (to - fr + 1 > irpacker::kMaxPacked) {
    return luaL_error(L, "packed code longer than %d bytes", static_cast<int>(irpacker::kMaxPacked));
  }
  irpacker::UnpackResult result;
  {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data) + (fr - 1);
    std::vector<std::uint16_t> values;
    result = irpacker::unpack({bytes, static_cast<std::size_t>(to - fr + 1)}, values);
    if (result.status == irpacker::UnpackStatus::Ok) {
      lua_createtable(L, static_cast<int>(values.size()), 0);
      for (std::size_t i = 0; i < values.size(); ++i) {
        lua_pushnumber(L, values[i]);
        lua_rawseti(L, -2, static_cast<int>(i + 1));
      }
    }
  }
  switch (result.status) {
    case irpacker::UnpackStatus::Ok:
      return 1;
    case irpacker::UnpackStatus::EmptyRun:
      return luaL_error(L, "corrupt packed code: run of 0 values at byte %d",
                        static_cast<int>(fr + result.offset));
    case irpacker::UnpackStatus::RunPastEnd:
      break;
  }
  return luaL_error(L, "corrupt packed code: run past the end at byte %d",
                    static_cast<int>(fr + result.offset));
}

const luaL_Reg kFunctions[] = {
    {"unpack", unpack},
    {"pack", pack},
    {nullptr, nullptr},
};

}  // namespace

int luaopen_irpacker(lua_State* L) {
  luaL_register(L, "irpacker", kFunctions);
  return 1;
}

}  // namespace halvix::modules
