#include "modules/lzlib/lzlib_stream.h"

#include <cstring>
#include <new>
#include <string>

#include <zlib.h>

#include "modules/common/zlib_oneshot.h"

namespace halvix::modules::lzlib {
namespace {

constexpr std::size_t kOutChunk = 16384;
constexpr int kSourceReadSize = 16384;

// Slots of the stream's environment table: what it writes to or reads from,
// and the input string zlib is currently reading, kept alive while in use.
constexpr int kEndpointSlot = 1;
constexpr int kInputSlot = 2;
constexpr int kDictionarySlot = 3;

struct Stream {
  z_stream zs{};
  bool inflating = false;
  bool live = false;       // zs initialised and not yet ended
  bool finished = false;   // deflate: finished; inflate: end of the zlib stream seen
  bool sourceDone = false; // inflate: the source has no more input
  bool busy = false;       // a sink or source call is running
  bool hasDictionary = false;
  std::string pending;     // inflated bytes not yet read
  Bytef out[kOutChunk];

  void end() {
    if (!live) return;
    if (inflating) {
      inflateEnd(&zs);
    } else {
      deflateEnd(&zs);
    }
    live = false;
    pending.clear();
    pending.shrink_to_fit();
  }
};

Stream* rawStream(lua_State* L, int idx) {
  return static_cast<Stream*>(luaL_checkudata(L, idx, kStreamMeta));
}

Stream* checkStream(lua_State* L, bool inflating) {
  Stream* s = rawStream(L, 1);
  if (!s->live) luaL_error(L, "attempt to use a closed stream");
  if (s->busy) luaL_error(L, "stream is busy");
  if (s->inflating != inflating) {
    luaL_error(L, inflating ? "not an inflate stream" : "not a deflate stream");
  }
  return s;
}

const char* zlibMessage(const Stream& s, int ret) {
  return s.zs.msg ? s.zs.msg : zError(ret);
}

// Calls a function (below its nargs arguments on the stack) while the stream is marked busy, so that the callback cannot close or reuse
// the stream under zlib's feet.
void callGuarded(lua_State* L, Stream* s, int nargs, int nresults) {
  s->busy = true;
  const int status = lua_pcall(L, nargs, nresults, 0);
  s->busy = false;
  if (status != 0) lua_error(L);
}

void pushEndpoint(lua_State* L, int streamIdx) {
  lua_getfenv(L, streamIdx);
  lua_rawgeti(L, -1, kEndpointSlot);
  lua_remove(L, -2);
}

// Calls endpoint[method](endpoint, ...) if the endpoint is a table having it.
void callEndpointMethod(lua_State* L, Stream* s, const char* method) {
  pushEndpoint(L, 1);
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, method);
    if (lua_isfunction(L, -1)) {
      lua_insert(L, -2);
      callGuarded(L, s, 1, 0);
      return;
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
}

void writeToSink(lua_State* L, Stream* s, const Bytef* data, std::size_t len) {
  pushEndpoint(L, 1);
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "write");
    lua_insert(L, -2);  // write, sink
    lua_pushlstring(L, reinterpret_cast<const char*>(data), len);
    callGuarded(L, s, 2, 0);
  } else {
    lua_pushlstring(L, reinterpret_cast<const char*>(data), len);
    callGuarded(L, s, 1, 0);
  }
}

// Runs deflate over the pending input with the given flush mode, handing each
// full or final output chunk to the sink.
void pumpDeflate(lua_State* L, Stream* s, int flush) {
  for (;;) {
    s->zs.next_out = s->out;
    s->zs.avail_out = kOutChunk;
    const int ret = deflate(&s->zs, flush);
    if (ret == Z_STREAM_ERROR) luaL_error(L, "deflate failed: %s", zlibMessage(*s, ret));
    const std::size_t produced = kOutChunk - s->zs.avail_out;
    const bool outputFull = s->zs.avail_out == 0;
    if (produced > 0) writeToSink(L, s, s->out, produced);
    if (flush == Z_FINISH) {
      if (ret == Z_STREAM_END) return;
    } else if (!outputFull && s->zs.avail_in == 0) {
      return;
    }
  }
}

int streamWrite(lua_State* L) {
  Stream* s = checkStream(L, false);
  if (s->finished) return luaL_error(L, "attempt to write to a finished stream");
  const int top = lua_gettop(L);
  for (int i = 2; i <= top; ++i) {
    size_t len = 0;
    const char* data = luaL_checklstring(L, i, &len);
    while (len > 0) {
      const uInt part = len > (1u << 30) ? (1u << 30) : static_cast<uInt>(len);
      s->zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
      s->zs.avail_in = part;
      pumpDeflate(L, s, Z_NO_FLUSH);
      data += part;
      len -= part;
    }
  }
  s->zs.next_in = Z_NULL;
  return 0;
}

int streamFlush(lua_State* L) {
  Stream* s = checkStream(L, false);
  static const char* const kModes[] = {"sync", "full", "finish", nullptr};
  static const int kFlush[] = {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_FINISH};
  const int flush = kFlush[luaL_checkoption(L, 2, "sync", kModes)];
  if (!s->finished) {
    if (flush == Z_FINISH) s->finished = true;
    pumpDeflate(L, s, flush);
  }
  callEndpointMethod(L, s, "flush");
  return 0;
}

// Inflates more of the input into `pending`. Returns false once the zlib
// stream has ended. A source that runs dry before the end, or corrupt data,
// raises an error.
bool inflateMore(lua_State* L, Stream* s) {
  if (s->finished) return false;
  for (;;) {
    if (s->zs.avail_in == 0) {
      if (s->sourceDone) return luaL_error(L, "inflate failed: truncated stream"), false;
      pushEndpoint(L, 1);
      if (lua_istable(L, -1)) {
        lua_getfield(L, -1, "read");
        lua_insert(L, -2);
        lua_pushinteger(L, kSourceReadSize);
        callGuarded(L, s, 2, 1);
      } else {
        callGuarded(L, s, 0, 1);
      }
      size_t len = 0;
      const char* chunk = nullptr;
      if (lua_isnil(L, -1)) {
        s->sourceDone = true;
      } else if (lua_type(L, -1) == LUA_TSTRING) {
        chunk = lua_tolstring(L, -1, &len);
        // An empty chunk counts as the end: a source that keeps returning ""
        // would otherwise spin forever.
        if (len == 0) s->sourceDone = true;
        if (len > 0x7fffffffu) return luaL_error(L, "inflate failed: source chunk too large"), false;
      } else {
        return luaL_error(L, "inflate failed: source returned a %s, string expected",
                          luaL_typename(L, -1)), false;
      }
      lua_getfenv(L, 1);
      lua_pushvalue(L, -2);
      lua_rawseti(L, -2, kInputSlot);
      lua_pop(L, 2);
      s->zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk));
      s->zs.avail_in = static_cast<uInt>(len);
      continue;
    }
    s->zs.next_out = s->out;
    s->zs.avail_out = kOutChunk;
    int ret = inflate(&s->zs, Z_NO_FLUSH);
    if (ret == Z_NEED_DICT && s->hasDictionary) {
      lua_getfenv(L, 1);
      lua_rawgeti(L, -1, kDictionarySlot);
      size_t dlen = 0;
      const char* dict = lua_tolstring(L, -1, &dlen);
      ret = inflateSetDictionary(&s->zs, reinterpret_cast<const Bytef*>(dict), static_cast<uInt>(dlen));
      lua_pop(L, 2);
      if (ret == Z_OK) continue;
    }
    const std::size_t produced = kOutChunk - s->zs.avail_out;
    if (produced > 0) {
      if (s->pending.size() + produced > zlib_oneshot::kMaxInflatedBytes) {
        return luaL_error(L, "inflate failed: inflated data too large"), false;
      }
      s->pending.append(reinterpret_cast<const char*>(s->out), produced);
    }
    if (ret == Z_STREAM_END) {
      s->finished = true;
      return true;
    }
    if (ret != Z_OK && ret != Z_BUF_ERROR) {
      return luaL_error(L, "inflate failed: %s", zlibMessage(*s, ret)), false;
    }
    if (produced > 0) return true;
    if (ret == Z_BUF_ERROR && s->zs.avail_in > 0) {
      return luaL_error(L, "inflate failed: no progress"), false;
    }
  }
}

// Pushes the next line (without its line end), or nil at the end.
bool readLine(lua_State* L, Stream* s) {
  std::size_t searched = 0;
  for (;;) {
    const std::size_t nl = s->pending.find('\n', searched);
    if (nl != std::string::npos) {
      lua_pushlstring(L, s->pending.data(), nl);
      s->pending.erase(0, nl + 1);
      return true;
    }
    searched = s->pending.size();
    if (!inflateMore(L, s)) break;
  }
  if (s->pending.empty()) {
    lua_pushnil(L);
    return false;
  }
  lua_pushlstring(L, s->pending.data(), s->pending.size());
  s->pending.clear();
  return true;
}

bool readCount(lua_State* L, Stream* s, lua_Number wanted) {
  const std::size_t n = wanted <= 0 ? 0
                        : wanted >= static_cast<lua_Number>(zlib_oneshot::kMaxInflatedBytes)
                            ? zlib_oneshot::kMaxInflatedBytes
                            : static_cast<std::size_t>(wanted);
  while (s->pending.size() < (n == 0 ? 1 : n) && inflateMore(L, s)) {
  }
  if (s->pending.empty()) {
    lua_pushnil(L);
    return false;
  }
  const std::size_t take = n < s->pending.size() ? n : s->pending.size();
  lua_pushlstring(L, s->pending.data(), take);
  s->pending.erase(0, take);
  return true;
}

void readAll(lua_State* L, Stream* s) {
  while (inflateMore(L, s)) {
  }
  lua_pushlstring(L, s->pending.data(), s->pending.size());
  s->pending.clear();
}

int streamRead(lua_State* L) {
  Stream* s = checkStream(L, true);
  const int top = lua_gettop(L);
  if (top < 2) {
    readLine(L, s);
    return 1;
  }
  for (int i = 2; i <= top; ++i) {
    bool ok = true;
    if (lua_type(L, i) == LUA_TNUMBER) {
      ok = readCount(L, s, lua_tonumber(L, i));
    } else {
      const char* fmt = luaL_checkstring(L, i);
      if (*fmt == '*') ++fmt;
      switch (*fmt) {
        case 'l':
          ok = readLine(L, s);
          break;
        case 'a':
          readAll(L, s);
          break;
        default:
          return luaL_argerror(L, i, "invalid format");
      }
    }
    if (!ok) return i - 1;
  }
  return top - 1;
}

int linesIterator(lua_State* L) {
  lua_settop(L, 0);
  lua_pushvalue(L, lua_upvalueindex(1));
  Stream* s = rawStream(L, 1);
  if (!s->live) return luaL_error(L, "attempt to use a closed stream");
  if (s->busy) return luaL_error(L, "stream is busy");
  readLine(L, s);
  return 1;
}

int streamLines(lua_State* L) {
  checkStream(L, true);
  lua_settop(L, 1);
  lua_pushcclosure(L, linesIterator, 1);
  return 1;
}

int streamAdler(lua_State* L) {
  Stream* s = rawStream(L, 1);
  if (!s->live) return luaL_error(L, "attempt to use a closed stream");
  lua_pushnumber(L, static_cast<lua_Number>(s->zs.adler));
  return 1;
}

int streamClose(lua_State* L) {
  Stream* s = rawStream(L, 1);
  if (!s->live) return 0;
  if (s->busy) return luaL_error(L, "stream is busy");
  if (!s->inflating && !s->finished) {
    s->finished = true;
    pumpDeflate(L, s, Z_FINISH);
  }
  s->end();
  callEndpointMethod(L, s, "close");
  return 0;
}

int streamGc(lua_State* L) {
  Stream* s = rawStream(L, 1);
  s->end();
  s->~Stream();
  // The memory stays a zeroed husk until Lua frees it; `live` is false.
  new (s) Stream();
  return 0;
}

int streamToString(lua_State* L) {
  Stream* s = rawStream(L, 1);
  if (s->live) {
    lua_pushfstring(L, "%s: %p", kStreamMeta, static_cast<void*>(s));
  } else {
    lua_pushfstring(L, "%s (closed)", kStreamMeta);
  }
  return 1;
}

const luaL_Reg kMethods[] = {
    {"write", streamWrite}, {"flush", streamFlush}, {"read", streamRead},
    {"lines", streamLines}, {"close", streamClose}, {"adler", streamAdler},
    {nullptr, nullptr},
};

// Creates the userdata (stack top) with its metatable and an environment
// table holding the endpoint and, when given, the dictionary.
Stream* pushStream(lua_State* L, bool inflating, int dictionaryIdx) {
  void* mem = lua_newuserdata(L, sizeof(Stream));
  Stream* s = new (mem) Stream();
  s->inflating = inflating;
  registerStreamMeta(L);
  luaL_getmetatable(L, kStreamMeta);
  lua_setmetatable(L, -2);
  lua_createtable(L, 3, 0);
  lua_pushvalue(L, 1);
  lua_rawseti(L, -2, kEndpointSlot);
  if (dictionaryIdx != 0) {
    lua_pushvalue(L, dictionaryIdx);
    lua_rawseti(L, -2, kDictionarySlot);
  }
  lua_setfenv(L, -2);
  return s;
}

}  // namespace

void registerStreamMeta(lua_State* L) {
  if (luaL_newmetatable(L, kStreamMeta)) {
    lua_newtable(L);
    luaL_register(L, nullptr, kMethods);
    lua_setfield(L, -2, "__index");
    lua_pushcfunction(L, streamGc);
    lua_setfield(L, -2, "__gc");
    lua_pushcfunction(L, streamToString);
    lua_setfield(L, -2, "__tostring");
  }
  lua_pop(L, 1);
}

zlib_oneshot::DeflateParams optDeflateParams(lua_State* L, int first) {
  zlib_oneshot::DeflateParams p;
  p.level = luaL_optint(L, first, p.level);
  p.method = luaL_optint(L, first + 1, p.method);
  p.windowBits = luaL_optint(L, first + 2, p.windowBits);
  p.memLevel = luaL_optint(L, first + 3, p.memLevel);
  p.strategy = luaL_optint(L, first + 4, p.strategy);
  return p;
}

int newDeflateStream(lua_State* L) {
  if (!lua_isfunction(L, 1) && !lua_istable(L, 1)) {
    return luaL_argerror(L, 1, "function or table expected");
  }
  const zlib_oneshot::DeflateParams p = optDeflateParams(L, 2);
  size_t dlen = 0;
  const char* dict = luaL_optlstring(L, 7, nullptr, &dlen);
  Stream* s = pushStream(L, false, 0);
  int ret = deflateInit2(&s->zs, p.level, p.method, p.windowBits, p.memLevel, p.strategy);
  if (ret != Z_OK) return luaL_error(L, "deflate failed: %s", zlibMessage(*s, ret));
  s->live = true;
  if (dict) {
    ret = deflateSetDictionary(&s->zs, reinterpret_cast<const Bytef*>(dict), static_cast<uInt>(dlen));
    if (ret != Z_OK) return luaL_error(L, "deflate failed: %s", zlibMessage(*s, ret));
  }
  return 1;
}

int newInflateStream(lua_State* L) {
  const int type = lua_type(L, 1);
  if (type != LUA_TSTRING && type != LUA_TFUNCTION && type != LUA_TTABLE) {
    return luaL_argerror(L, 1, "string, function or table expected");
  }
  const int windowBits = luaL_optint(L, 2, MAX_WBITS);
  luaL_optstring(L, 3, nullptr);
  const bool hasDictionary = lua_type(L, 3) == LUA_TSTRING;
  Stream* s = pushStream(L, true, hasDictionary ? 3 : 0);
  s->hasDictionary = hasDictionary;
  const int ret = inflateInit2(&s->zs, windowBits);
  if (ret != Z_OK) return luaL_error(L, "inflate failed: %s", zlibMessage(*s, ret));
  s->live = true;
  if (type == LUA_TSTRING) {
    size_t len = 0;
    const char* data = lua_tolstring(L, 1, &len);
    if (len > 0x7fffffffu) return luaL_error(L, "inflate failed: input too large");
    lua_getfenv(L, -1);
    lua_pushvalue(L, 1);
    lua_rawseti(L, -2, kInputSlot);
    lua_pop(L, 1);
    s->zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    s->zs.avail_in = static_cast<uInt>(len);
    s->sourceDone = true;
  }
  return 1;
}

}  // namespace halvix::modules::lzlib
