// The `zacc` module: a flat table of stateless utility functions.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "modules/common/lua_conv.h"
#include "modules/common/single_float.h"
#include "modules/registration.h"
#include "modules/zacc/zacc_base64.h"
#include "modules/zacc/zacc_time.h"
#include "platform/system_clock.h"

namespace halvix::modules {
namespace {

std::string_view checkView(lua_State* L, int arg) {
  size_t len = 0;
  const char* s = luaL_checklstring(L, arg, &len);
  return {s, len};
}

std::string_view optView(lua_State* L, int arg, std::string_view def) {
  if (lua_isnoneornil(L, arg)) return def;
  return checkView(L, arg);
}

int float2bin(lua_State* L) {
  lua_pushnumber(L, singleBits(luaL_checknumber(L, 1)));
  return 1;
}

int bin2float(lua_State* L) {
  const auto bits = static_cast<std::uint32_t>(static_cast<std::uint64_t>(checkInt64(L, 1)));
  float f = 0;
  std::memcpy(&f, &bits, sizeof f);
  lua_pushnumber(L, f);
  return 1;
}

int num2str(lua_State* L) {
  char text[64];
  std::snprintf(text, sizeof text, "%.16g", static_cast<double>(lua_tonumber(L, 1)));
  lua_pushstring(L, text);
  return 1;
}

int idCmpSub(lua_State* L) {
  const std::string_view a = checkView(L, 1);
  const std::string_view b = checkView(L, 2);
  bool less = false;
  if (a != b) {
    const auto slashesA = std::count(a.begin(), a.end(), '/');
    const auto slashesB = std::count(b.begin(), b.end(), '/');
    if (slashesA != slashesB) {
      less = slashesA < slashesB;
    } else {
      // The separator sorts below every other byte.
      auto rank = [](char c) { return c == '/' ? 0u : static_cast<unsigned char>(c) + 0u; };
      const std::size_t n = std::min(a.size(), b.size());
      std::size_t i = 0;
      while (i < n && rank(a[i]) == rank(b[i])) ++i;
      less = i < n ? rank(a[i]) < rank(b[i]) : a.size() < b.size();
    }
  }
  lua_pushboolean(L, less);
  return 1;
}

int timestamp(lua_State* L) {
  lua_pushnumber(L, zacc::unixSeconds(platform::fileTimeNow()));
  return 1;
}

int gettime2(lua_State* L) {
  const double v = zacc::unixSeconds(platform::fileTimeNow());
  const double whole = std::trunc(v);
  lua_pushnumber(L, whole);
  lua_pushnumber(L, v - whole);
  return 2;
}

int timems(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(zacc::unixMilliseconds(platform::fileTimeNow())));
  return 1;
}

int tmzone(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(zacc::standardOffsetAt(std::time(nullptr))));
  return 1;
}

std::string_view checkAlphabet(lua_State* L, int arg) {
  const std::string_view alphabet = optView(L, arg, zacc::kDefaultAlphabet);
  if (alphabet.size() < 64) luaL_argerror(L, arg, "alphabet of 64 symbols expected");
  return alphabet;
}

int toBin64(lua_State* L) {
  const std::string_view data = checkView(L, 1);
  const std::string_view alphabet = checkAlphabet(L, 2);
  const std::string_view pad = optView(L, 3, "=");
  const std::string text = zacc::toBin64(data, alphabet, pad);
  lua_pushlstring(L, text.data(), text.size());
  return 1;
}

int fromBin64(lua_State* L) {
  const std::string_view text = checkView(L, 1);
  const std::string_view alphabet = checkAlphabet(L, 2);
  const std::string_view pad = optView(L, 3, "=");
  const auto bytes = zacc::fromBin64(text, alphabet, pad);
  if (!bytes) return 0;
  lua_pushlstring(L, bytes->data(), bytes->size());
  return 1;
}

int unlinkFile(lua_State* L) {
  const char* path = luaL_checkstring(L, 1);
  lua_pushnumber(L, ::unlink(path) == 0 ? 0 : -1);
  return 1;
}

// The application calls it for its sockets; there is nothing to do here.
int setFdCloexec(lua_State*) { return 0; }

}  // namespace

const luaL_Reg kZaccFunctions[] = {
    {"float2bin", float2bin},
    {"bin2float", bin2float},
    {"num2str", num2str},
    {"id_cmpsub", idCmpSub},
    {"gettime2", gettime2},
    {"timestamp", timestamp},
    {"timems", timems},
    {"tmzone", tmzone},
    {"tickstamp", timestamp},
    {"ToBin64", toBin64},
    {"FromBin64", fromBin64},
    {"unlink", unlinkFile},
    {"setfdcloexec", setFdCloexec},
    {nullptr, nullptr},
};

int luaopen_zacc(lua_State* L) {
  luaL_register(L, "zacc", kZaccFunctions);
  // tickstamp is timestamp itself, not a second closure of it
  lua_getfield(L, -1, "timestamp");
  lua_setfield(L, -2, "tickstamp");
  return 1;
}

}  // namespace halvix::modules
