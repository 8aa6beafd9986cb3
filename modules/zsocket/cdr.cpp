#include "modules/zsocket/cdr.h"

#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

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

// Opens the cursor for one public call and hands the bytes back to out_ when
// it returns, whatever the outcome.
class Writer::Cursor {
 public:
  explicit Cursor(Writer& w) : w_(w) { w_.open(); }
  ~Cursor() { w_.close(); }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

 private:
  Writer& w_;
};

void Writer::open() {
  checkedTop_ = 0;
  p_ = out_.end();
  stop_ = out_.data + (out_.capacity - out_.misalign);
}

void Writer::close() { out_.length = static_cast<std::size_t>(p_ - out_.data); }

bool Writer::grow(std::size_t n) {
  close();
  const bool ok = out_.reserve(n);
  open();  // the block may have moved, even when growing failed
  return ok;
}

bool Writer::value(int idx, int depth) {
  Cursor cursor(*this);
  return put(idx, depth);
}

bool Writer::tableBody(int idx, int depth) {
  Cursor cursor(*this);
  if (lua_isnoneornil(L_, idx)) return putByte(0);
  if (!lua_istable(L_, idx)) return false;
  return pairs(idx, depth);
}

bool Writer::argPairs(int first, std::int32_t n) {
  Cursor cursor(*this);
  if (n <= 0) return putByte(0);
  if (!room(varint::kMax32)) return false;
  p_ += varint::put(p_, static_cast<std::uint32_t>(n));
  const int last = first + 2 * n;  // n was checked against the argument count
  for (int i = first; i < last; ++i) {
    if (!put(i, 0)) return false;
  }
  return true;
}

bool Writer::number(double x) {
  Cursor cursor(*this);
  return putNumber(x);
}

bool Writer::string(const char* s, std::size_t n) {
  Cursor cursor(*this);
  return putString(s, n);
}

bool Writer::byte(std::uint8_t b) {
  Cursor cursor(*this);
  return putByte(b);
}

inline bool Writer::putByte(std::uint8_t b) {
  if (!room(1)) return false;
  *p_++ = b;
  return true;
}

namespace {

// x truncated toward zero when that is exact and fits 64 bits; false for
// fractions, NaN and everything outside [-2^63, 2^63).
inline bool exactInt64(double x, std::int64_t& i) {
#if defined(__x86_64__) || defined(_M_X64)
  // One conversion: out of range and NaN give INT64_MIN, which then compares
  // unequal to x unless x is exactly -2^63, itself a valid answer.
  i = _mm_cvttsd_si64(_mm_set_sd(x));
  return static_cast<double>(i) == x;
#else
  if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return false;
  i = static_cast<std::int64_t>(x);
  return static_cast<double>(i) == x;
#endif
}

// Copies n bytes without a library call for the short keys and values that
// make up most messages.
inline void copyBytes(unsigned char* to, const char* from, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n < 8) {
    for (std::size_t k = 0; k < n; ++k) to[k] = static_cast<unsigned char>(from[k]);
  } else {
    std::memcpy(to, from, n);
  }
}

}  // namespace

inline bool Writer::putNumber(double x) {
  if (!room(1 + varint::kMax64)) return false;
  unsigned char* p = p_;
  std::int64_t i;
  if (exactInt64(x, i)) {
    if (i >= INT32_MIN && i <= INT32_MAX) {
      p[0] = kTagInt32;
      p_ = p + 1 + varint::put(p + 1, varint::zigzag32(static_cast<std::int32_t>(i)));
    } else {
      p[0] = kTagInt64;
      p_ = p + 1 + varint::put(p + 1, varint::zigzag64(i));
    }
    return true;
  }
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  p[0] = kTagDouble;
  for (int k = 0; k < 8; ++k) p[1 + k] = static_cast<unsigned char>(bits >> (56 - 8 * k));
  p_ = p + 9;
  return true;
}

inline bool Writer::putString(const char* s, std::size_t n) {
  if (n > UINT32_MAX || n > ByteBuffer::kMaxCapacity) return false;
  if (!room(n + 1 + varint::kMax32)) return false;
  unsigned char* p = p_;
  p[0] = kTagString;
  p += 1 + varint::put(p + 1, n);
  copyBytes(p, s, n);
  p_ = p + n;
  return true;
}

bool Writer::put(int idx, int depth) {
  // Ordered by how often each type turns up in messages.
  const int type = lua_type(L_, idx);
  if (type == LUA_TSTRING) {
    std::size_t n;
    const char* s = lua_tolstring(L_, idx, &n);
    if (limit_ > 0) {
      lua_pushvalue(L_, idx);
      lua_rawget(L_, dict_);
      // lua_tonumber yields 0 for whatever is not a number, an index never used.
      const std::int32_t index = toInt32(lua_tonumber(L_, -1));
      lua_settop(L_, -2);
      if (index >= 1 && index <= limit_) {
        if (!room(1 + varint::kMax32)) return false;
        p_[0] = kTagDictString;
        p_ += 1 + varint::put(p_ + 1, static_cast<std::uint32_t>(index));
        return true;
      }
    }
    return putString(s, n);
  }
  if (type == LUA_TNUMBER) return putNumber(lua_tonumber(L_, idx));
  if (type == LUA_TTABLE) return putByte(kTagTable) && pairs(idx, depth + 1);
  if (type == LUA_TBOOLEAN) return putByte(lua_toboolean(L_, idx) ? kTagTrue : kTagFalse);
  if (type == LUA_TNIL || type == LUA_TNONE) return putByte(kTagNil);
  std::printf("unknow var type %d", type);
  std::fflush(stdout);
  return false;
}

// Four free slots for a table's traversal at stack top `top`. Asking for the
// next levels' slots too spares a lua_checkstack per nested table (each level
// sits two slots higher, and nothing in between gives slots back). Should the
// larger request be refused, the four-slot one decides, so every table gets
// the same answer as asking for its own four slots.
bool Writer::stackFor(int top) {
  constexpr int kLevels = 16;
  if (lua_checkstack(L_, 4 + 2 * kLevels)) {
    checkedTop_ = top + 2 * kLevels;
    return true;
  }
  return lua_checkstack(L_, 4) != 0;
}

// The table at idx, whose type the caller has checked.
bool Writer::pairs(int idx, int depth) {
  if (depth > kMaxDepth) return false;
  const int top = lua_gettop(L_);
  if (top > checkedTop_ && !stackFor(top)) return false;
  // Most tables have fewer than 128 pairs: reserve one byte for the count and
  // widen it afterwards in the rare other case, instead of a counting pass.
  if (!room(1)) return false;
  const std::size_t countAt = static_cast<std::size_t>(p_ - out_.data);
  *p_++ = 0;
  std::uint64_t count = 0;
  lua_pushnil(L_);
  const int key = top + 1;
  while (lua_next(L_, idx) != 0) {
    if (!put(key, depth) || !put(key + 1, depth)) return false;
    lua_settop(L_, key);
    ++count;
  }
  if (count < 0x80) {
    out_.data[countAt] = static_cast<unsigned char>(count);
    return true;
  }
  if (count > UINT32_MAX) return false;
  unsigned char encoded[varint::kMax64];
  const std::size_t used = varint::put(encoded, count);
  close();
  const bool ok = out_.overwrite(countAt, encoded, 1) && out_.insert(countAt + 1, encoded + 1, used - 1);
  open();
  return ok;
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
