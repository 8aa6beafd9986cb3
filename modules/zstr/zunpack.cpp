#include <bit>
#include <cstdint>
#include <cstring>

#include "modules/common/lua_conv.h"
#include "modules/common/varint.h"
#include "modules/zstr/pack_format.h"
#include "modules/zstr/zstr.h"

namespace halvix::modules::zstr {
namespace {

// Reading position over the data; every read checks the bounds first and a
// failed read leaves the position where it was.
class Reader {
 public:
  Reader(const unsigned char* data, std::size_t size, std::size_t pos) : data_(data), size_(size), pos_(pos) {}

  std::size_t position() const { return pos_; }
  bool fits(std::uint64_t count) const { return pos_ <= size_ && count <= size_ - pos_; }

  bool fixed(int width, bool swap, std::uint64_t& v) {
    if (!fits(static_cast<std::uint64_t>(width))) return false;
    v = 0;
    for (int k = 0; k < width; ++k) {
      const std::uint64_t byte = data_[pos_ + static_cast<std::size_t>(swap ? width - 1 - k : k)];
      v |= byte << (8 * k);
    }
    pos_ += static_cast<std::size_t>(width);
    return true;
  }

  // At most maxBytes bytes; the last one must end the value. Callers
  // narrowing to 32 bits drop the bits beyond 32.
  bool readVarint(std::size_t maxBytes, std::uint64_t& v) {
    if (pos_ >= size_) return false;
    const std::size_t used = varint::get(data_ + pos_, data_ + size_, maxBytes, v);
    pos_ += used;
    return used != 0;
  }

  const char* bytes(std::uint64_t count) {
    if (!fits(count)) return nullptr;
    const char* p = reinterpret_cast<const char*>(data_ + pos_);
    pos_ += static_cast<std::size_t>(count);
    return p;
  }

  // The string up to the next NUL (or the end); the position moves past the NUL,
  // or to one past the end when there is none.
  bool zeroEnded(const char*& p, std::size_t& length) {
    if (pos_ >= size_) return false;
    p = reinterpret_cast<const char*>(data_ + pos_);
    const void* nul = std::memchr(p, 0, size_ - pos_);
    length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - p) : size_ - pos_;
    pos_ += length + 1;
    return true;
  }

  void restore(std::size_t pos) { pos_ = pos; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t pos_;
};

void pushValue(lua_State* L, lua_Number v) {
  luaL_checkstack(L, 1, "too many results to unpack");
  lua_pushnumber(L, v);
}

void pushString(lua_State* L, const char* p, std::size_t length) {
  luaL_checkstack(L, 1, "too many results to unpack");
  lua_pushlstring(L, p, length);
}

// One repetition of a value code; false when the data ran out.
bool unpackOne(lua_State* L, Reader& in, const Code& code, bool swap) {
  std::uint64_t v = 0;
  switch (code.kind) {
    case Kind::Int32Based:
    case Kind::Int64Based: {
      if (!in.fixed(code.width, swap, v)) return false;
      // Sign-extend from the field's width; 8-byte fields are always signed.
      const int unused = 64 - 8 * code.width;
      const auto n = code.isSigned ? static_cast<lua_Number>(static_cast<std::int64_t>(v << unused) >> unused)
                                   : static_cast<lua_Number>(v);
      pushValue(L, n);
      return true;
    }
    case Kind::Single:
      if (!in.fixed(4, swap, v)) return false;
      pushValue(L, std::bit_cast<float>(static_cast<std::uint32_t>(v)));
      return true;
    case Kind::Double:
      if (!in.fixed(8, swap, v)) return false;
      pushValue(L, std::bit_cast<double>(v));
      return true;
    case Kind::VarU32:
      if (!in.readVarint(varint::kMax32, v)) return false;
      pushValue(L, static_cast<std::uint32_t>(v));
      return true;
    case Kind::VarZigzag32:
      if (!in.readVarint(varint::kMax32, v)) return false;
      pushValue(L, varint::unzigzag32(static_cast<std::uint32_t>(v)));
      return true;
    case Kind::VarZigzag64:
      if (!in.readVarint(varint::kMax64, v)) return false;
      pushValue(L, static_cast<lua_Number>(varint::unzigzag64(v)));
      return true;
    case Kind::Prefixed:
    case Kind::VarPrefixed: {
      const std::size_t start = in.position();
      const bool haveLength =
          code.kind == Kind::Prefixed ? in.fixed(code.width, swap, v) : in.readVarint(varint::kMax32, v);
      if (code.kind == Kind::VarPrefixed) v &= 0xFFFFFFFFu;
      const char* p = haveLength ? in.bytes(v) : nullptr;
      if (!p) {
        in.restore(start);
        return false;
      }
      pushString(L, p, static_cast<std::size_t>(v));
      return true;
    }
    case Kind::ZeroEnded: {
      const char* p = nullptr;
      std::size_t length = 0;
      if (!in.zeroEnded(p, length)) return false;
      pushString(L, p, length);
      return true;
    }
    default:
      return true;
  }
}

}  // namespace

// Returns the position after the last byte read, then the values; running
// out of data ends the whole format quietly.
int zunpack(lua_State* L) {
  std::size_t size = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(luaL_checklstring(L, 1, &size));
  std::size_t formatLength = 0;
  const char* format = luaL_checklstring(L, 2, &formatLength);
  const std::int32_t start = toInt32(luaL_optnumber(L, 3, 1) - 1);
  // Reading before the data is never meaningful; positions count from 1.
  luaL_argcheck(L, start >= 0, 3, "initial position must be at least 1");

  Reader in(data, size, static_cast<std::size_t>(start));
  lua_settop(L, 2);
  lua_pushnil(L);  // replaced by the final position
  const int base = lua_gettop(L);
  bool swap = false;
  FormatReader reader(format, formatLength);
  Item item;
  bool stopped = false;
  while (!stopped && reader.next(item)) {
    const Code code = item.code;
    switch (code.kind) {
      case Kind::Unknown:
        return luaL_argerror(L, 2, lua_pushfstring(L, "bad code `%c'", item.character));
      case Kind::Ignore: continue;
      case Kind::Little: swap = false; continue;
      case Kind::Big: swap = true; continue;
      case Kind::Raw:
        if (item.count == 0) {
          pushString(L, "", 0);
        } else if (const char* p = in.bytes(item.count)) {
          pushString(L, p, static_cast<std::size_t>(item.count));
        } else {
          stopped = true;
        }
        continue;
      default:
        break;
    }
    for (std::uint64_t rep = 0; rep < item.count && !stopped; ++rep) stopped = !unpackOne(L, in, code, swap);
  }
  lua_pushnumber(L, static_cast<lua_Number>(in.position()) + 1);
  lua_replace(L, base);
  return lua_gettop(L) - base + 1;
}

}  // namespace halvix::modules::zstr
