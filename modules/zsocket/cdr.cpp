#include "modules/zsocket/cdr.h"

#include <cstdio>
#include <cstring>

#include "modules/common/lua_conv.h"
#include "modules/common/varint.h"

namespace halvix::modules::zsocket::cdr {

int optDictionary(lua_State* L, int arg) {
  if (lua_type(L, arg) != LUA_TTABLE) return 0;
  return arg > 0 ? arg : lua_gettop(L) + arg + 1;
}

std::int64_t toLimit(lua_State* L, int arg) {
  return lua_isnumber(L, arg) ? toInt64(lua_tonumber(L, arg)) : 0;
}

// ---- Writer ---------------------------------------------------------------

bool Writer::byte(std::uint8_t b) {
  if (!out_.reserve(1)) return false;
  *out_.end() = b;
  out_.commit(1);
  return true;
}

bool Writer::number(double x) {
  if (!out_.reserve(1 + varint::kMax64)) return false;
  unsigned char* p = out_.end();
  if (x >= -2147483648.0 && x <= 2147483647.0) {
    const auto i = static_cast<std::int32_t>(x);
    if (static_cast<double>(i) == x) {
      p[0] = kTagInt32;
      out_.commit(1 + varint::put(p + 1, varint::zigzag32(i)));
      return true;
    }
  } else if (x >= -9223372036854775808.0 && x < 9223372036854775808.0) {
    const auto i = static_cast<std::int64_t>(x);
    if (static_cast<double>(i) == x) {
      p[0] = kTagInt64;
      out_.commit(1 + varint::put(p + 1, varint::zigzag64(i)));
      return true;
    }
  }
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  p[0] = kTagDouble;
  for (int k = 0; k < 8; ++k) p[1 + k] = static_cast<unsigned char>(bits >> (56 - 8 * k));
  out_.commit(9);
  return true;
}

bool Writer::string(const char* s, std::size_t n) {
  if (n > UINT32_MAX || n > ByteBuffer::kMaxCapacity) return false;
  if (!out_.reserve(n + 1 + varint::kMax32)) return false;
  unsigned char* p = out_.end();
  p[0] = kTagString;
  std::size_t used = 1 + varint::put(p + 1, n);
  std::memcpy(p + used, s, n);
  out_.commit(used + n);
  return true;
}

bool Writer::value(int idx, int depth) {
  switch (lua_type(L_, idx)) {
    case LUA_TNONE:
    case LUA_TNIL:
      return byte(kTagNil);
    case LUA_TBOOLEAN:
      return byte(lua_toboolean(L_, idx) ? kTagTrue : kTagFalse);
    case LUA_TNUMBER:
      return number(lua_tonumber(L_, idx));
    case LUA_TSTRING: {
      std::size_t n;
      const char* s = lua_tolstring(L_, idx, &n);
      if (limit_ > 0) {
        lua_pushvalue(L_, idx);
        lua_rawget(L_, dict_);
        const std::int32_t index = lua_isnumber(L_, -1) ? toInt32(lua_tonumber(L_, -1)) : 0;
        lua_pop(L_, 1);
        if (index >= 1 && index <= limit_) {
          if (!out_.reserve(1 + varint::kMax32)) return false;
          unsigned char* p = out_.end();
          p[0] = kTagDictString;
          out_.commit(1 + varint::put(p + 1, static_cast<std::uint32_t>(index)));
          return true;
        }
      }
      return string(s, n);
    }
    case LUA_TTABLE:
      return byte(kTagTable) && tableBody(idx, depth + 1);
    default:
      std::printf("unknow var type %d", lua_type(L_, idx));
      std::fflush(stdout);
      return false;
  }
}

bool Writer::tableBody(int idx, int depth) {
  if (lua_isnoneornil(L_, idx)) return byte(0);
  if (!lua_istable(L_, idx) || depth > kMaxDepth || !lua_checkstack(L_, 4)) return false;
  // Most tables have fewer than 128 pairs: reserve one byte for the count and
  // widen it afterwards in the rare other case, instead of a counting pass.
  const std::size_t countAt = out_.length;
  if (!byte(0)) return false;
  std::uint64_t count = 0;
  lua_pushnil(L_);
  const int key = lua_gettop(L_);
  while (lua_next(L_, idx) != 0) {
    if (!value(key, depth) || !value(key + 1, depth)) return false;
    lua_settop(L_, key);
    ++count;
  }
  if (count > UINT32_MAX) return false;
  unsigned char encoded[varint::kMax64];
  const std::size_t used = varint::put(encoded, count);
  return out_.overwrite(countAt, encoded, 1) && out_.insert(countAt + 1, encoded + 1, used - 1);
}

bool Writer::argPairs(int first, std::int32_t n) {
  if (n <= 0) return byte(0);
  if (!out_.reserve(varint::kMax32)) return false;
  out_.commit(varint::put(out_.end(), static_cast<std::uint32_t>(n)));
  const int last = first + 2 * n;  // n was checked against the argument count
  for (int i = first; i < last; ++i) {
    if (!value(i)) return false;
  }
  return true;
}

// ---- Reader ---------------------------------------------------------------

namespace {
constexpr std::uint32_t kMaxPresize = 1u << 16;
}  // namespace

bool Reader::value(int depth) {
  if (p_ >= end_) return false;
  const unsigned char tag = *p_++;
  switch (tag) {
    case kTagNil:
      lua_pushnil(L_);
      return true;
    case kTagFalse:
    case kTagTrue:
      lua_pushboolean(L_, tag == kTagTrue);
      return true;
    case kTagInt32: {
      std::uint32_t u;
      const std::size_t used = varint::get32(p_, end_, u);
      if (used == 0) return false;
      p_ += used;
      lua_pushnumber(L_, varint::unzigzag32(u));
      return true;
    }
    case kTagDouble: {
      if (end_ - p_ < 8) return false;
      std::uint64_t bits = 0;
      for (int k = 0; k < 8; ++k) bits = (bits << 8) | p_[k];
      p_ += 8;
      double x;
      std::memcpy(&x, &bits, sizeof x);
      lua_pushnumber(L_, x);
      return true;
    }
    case kTagInt64: {
      std::uint64_t u;
      const std::size_t used = varint::get64(p_, end_, u);
      if (used == 0) return false;
      p_ += used;
      lua_pushnumber(L_, static_cast<double>(varint::unzigzag64(u)));
      return true;
    }
    case kTagString: {
      std::uint32_t n;
      const std::size_t used = varint::get32(p_, end_, n);
      if (used == 0 || static_cast<std::size_t>(end_ - p_) - used < n) return false;
      lua_pushlstring(L_, reinterpret_cast<const char*>(p_ + used), n);
      p_ += used + n;
      return true;
    }
    case kTagTable:
      return depth < kMaxDepth && tableBody(depth + 1);
    case kTagDictString: {
      if (dict_ == 0) {
        std::printf("no dict %d:%d", tag, 0);
        std::fflush(stdout);
        return false;
      }
      std::uint32_t index;
      const std::size_t used = varint::get32(p_, end_, index);
      if (used == 0) return false;
      p_ += used;
      lua_pushnumber(L_, index);
      lua_rawget(L_, dict_);
      if (lua_isnil(L_, -1)) {
        lua_pop(L_, 1);
        std::printf("unknow dict string %d:%d:%d", tag, dictArg_, static_cast<std::int32_t>(index));
        std::fflush(stdout);
        return false;
      }
      return true;
    }
    default:
      std::printf("unknow var type %d", tag);
      std::fflush(stdout);
      return false;
  }
}

bool Reader::tableBody(int depth) {
  std::uint32_t count;
  const std::size_t used = varint::get32(p_, end_, count);
  if (used == 0) return false;
  p_ += used;
  if (!lua_checkstack(L_, 4)) return false;
  // The pairs are read as the count says, so that a body cut short fails (or
  // raises, or prints) at the element where it breaks. Only the presizing
  // trusts no more pairs than the bytes left could hold, two bytes a pair.
  const std::size_t room = static_cast<std::size_t>(end_ - p_) / 2;
  const std::size_t likely = count < room ? count : room;
  // A body whose first key is 1 is most likely an array.
  const bool array = likely > 0 && p_[0] == kTagInt32 && p_[1] == 0x02;
  const int presize = static_cast<int>(likely < kMaxPresize ? likely : kMaxPresize);
  // LuaJIT's array part starts at index 0, so n array slots hold keys 1 to n - 1.
  lua_createtable(L_, array ? presize + 1 : 0, array ? 0 : presize);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!value(depth) || !value(depth)) return false;
    lua_rawset(L_, -3);  // a nil or NaN key raises the engine's table-index error
  }
  return true;
}

}  // namespace halvix::modules::zsocket::cdr
