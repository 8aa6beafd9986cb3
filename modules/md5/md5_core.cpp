// md5 1.2's native half `md5.core`: digest, exclusive or, and the MD5-CFB
// pair crypt/decrypt. Cyphertext layout: one byte seed length, the seed,
// then the message XORed block by block with MD5(previous block .. key),
// where the first previous block is the seed padded with zeros to 16 bytes
// and later ones are the cyphertext blocks.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include <lua.hpp>

#include "modules/md5/md5_digest.h"

namespace halvix::modules {
namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kMaxSeed = 16;
constexpr std::size_t kMaxKey = 256;

std::string_view checkView(lua_State* L, int arg) {
  size_t len = 0;
  const char* s = luaL_checklstring(L, arg, &len);
  return {s, len};
}

void pushView(lua_State* L, std::string_view s) { lua_pushlstring(L, s.data(), s.size()); }

// The stream is its own inverse but for which side feeds back: encrypting
// chains the output, decrypting the input.
std::string cfb(std::string_view in, std::string_view key, std::string_view seed, bool encrypt) {
  std::string chain(kBlock, '\0');
  std::memcpy(chain.data(), seed.data(), seed.size());
  chain.append(key);
  std::string out(in.size(), '\0');
  for (std::size_t at = 0; at < in.size(); at += kBlock) {
    const Md5Digest pad = md5Digest(chain);
    const std::size_t n = std::min(kBlock, in.size() - at);
    for (std::size_t i = 0; i < n; ++i) out[at + i] = static_cast<char>(in[at + i] ^ pad[i]);
    const std::string_view fed = encrypt ? std::string_view(out).substr(at, n) : in.substr(at, n);
    chain.replace(0, kBlock, fed);
  }
  return out;
}

void checkKey(lua_State* L, std::string_view key) {
  if (key.size() > kMaxKey) luaL_error(L, "key too long (> %d)", static_cast<int>(kMaxKey));
}

int sum(lua_State* L) {
  const Md5Digest digest = md5Digest(checkView(L, 1));
  lua_pushlstring(L, reinterpret_cast<const char*>(digest.data()), digest.size());
  return 1;
}

int exor(lua_State* L) {
  const std::string_view a = checkView(L, 1);
  const std::string_view b = checkView(L, 2);
  luaL_argcheck(L, a.size() == b.size(), 2, "lengths must be equal");
  std::string out(a.size(), '\0');
  for (std::size_t i = 0; i < a.size(); ++i) out[i] = static_cast<char>(a[i] ^ b[i]);
  pushView(L, out);
  return 1;
}

int crypt(lua_State* L) {
  // An absent seed is the clock's raw 8 bytes, pushed before the arguments
  // are checked, as md5 1.2 does (so crypt(message) complains of argument 3).
  if (lua_isnone(L, 3)) {
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    unsigned char raw[8];
    for (int i = 0; i < 8; ++i) raw[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(now) >> (8 * i));
    lua_pushlstring(L, reinterpret_cast<const char*>(raw), sizeof raw);
  }
  // md5 1.2's order of complaints: message, seed, seed length, key, key length.
  const std::string_view message = checkView(L, 1);
  const std::string_view seed = checkView(L, 3);
  if (seed.size() > kMaxSeed) luaL_error(L, "seed too long (> %d)", static_cast<int>(kMaxSeed));
  const std::string_view key = checkView(L, 2);
  checkKey(L, key);
  std::string out(1, static_cast<char>(seed.size()));
  out.append(seed);
  out.append(cfb(message, key, seed, true));
  pushView(L, out);
  return 1;
}

int decrypt(lua_State* L) {
  const std::string_view cypher = checkView(L, 1);
  const std::size_t seedSize = cypher.empty() ? 0 : static_cast<unsigned char>(cypher[0]);
  luaL_argcheck(L, !cypher.empty() && seedSize <= kMaxSeed && cypher.size() > seedSize, 1,
                "invalid cyphered string");
  const std::string_view key = checkView(L, 2);
  checkKey(L, key);
  pushView(L, cfb(cypher.substr(1 + seedSize), key, cypher.substr(1, seedSize), false));
  return 1;
}

const luaL_Reg kMd5Functions[] = {
    {"sum", sum},
    {"exor", exor},
    {"crypt", crypt},
    {"decrypt", decrypt},
    {nullptr, nullptr},
};

}  // namespace
}  // namespace halvix::modules

extern "C" int luaopen_md5_core(lua_State* L) {
  lua_newtable(L);
  luaL_register(L, nullptr, halvix::modules::kMd5Functions);
  lua_pushliteral(L, "MD5 1.2");
  lua_setfield(L, -2, "_VERSION");
  lua_pushliteral(L, "Basic cryptographic facilities");
  lua_setfield(L, -2, "_DESCRIPTION");
  lua_pushliteral(L, "Copyright (C) 2003-2013 PUC-Rio");
  lua_setfield(L, -2, "_COPYRIGHT");
  return 1;
}
