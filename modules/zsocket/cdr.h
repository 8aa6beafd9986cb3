#pragma once
// CDR: the tagged binary encoding of Lua values exchanged with the
// application's peers, and its packet framing. Every byte below is wire
// format; peers depend on it exactly.
//
//   value      = nil | false | true | int32 | double | int64 | string | table | dictstr
//   nil        = 0x01
//   false      = 0x02
//   true       = 0x03
//   int32      = 0x04 varint32(zigzag32(v))        integral v in [-2^31, 2^31 - 1]; -0 is 0
//   double     = 0x05 b7 b6 b5 b4 b3 b2 b1 b0      IEEE 754, most significant byte first;
//                                                  fractions, infinities, NaN, |v| >= 2^63
//   int64      = 0x06 varint64(zigzag64(v))        other integral v in [-2^63, 2^63)
//   string     = 0x11 varint32(n) n*byte
//   table      = 0x12 tablebody
//   dictstr    = 0x13 varint32(index)              index into the caller's dictionary
//   tablebody  = varint32(count) count*(value value)   key then value, traversal order;
//                                                  the empty body is the single byte 0x00
//   varint32, varint64, zigzag32, zigzag64: see modules/common/varint.h
//   Tags 0x00, 0x07..0x10 and 0x14..0xff do not occur.
//
//   packet     = header [headbody [body]]          headbody present when a head or a body is given
//   header     = see packet_header.h; body_length counts the bytes after the header
//   body       = raw bytes | tablebody             the reader must know which
//
// Dictionary rule: with a dictionary table and a limit > 0, the writer emits
// 0x13 for a string s when rawget(dict, s), taken as a 32-bit integer, lies in
// [1, limit]; otherwise the inline form. The reader resolves 0x13 with
// rawget(dict, index) and accepts any non-nil value.
//
// Nesting deeper than kMaxDepth tables (self-referencing tables included)
// fails like any other malformed or unsupported input.
#include <cstddef>
#include <cstdint>

#include <lua.hpp>

#include "modules/zsocket/byte_buffer.h"
#include "modules/zsocket/packet_header.h"

namespace halvix::modules::zsocket::cdr {

enum Tag : std::uint8_t {
  kTagNil = 0x01,
  kTagFalse = 0x02,
  kTagTrue = 0x03,
  kTagInt32 = 0x04,
  kTagDouble = 0x05,
  kTagInt64 = 0x06,
  kTagString = 0x11,
  kTagTable = 0x12,
  kTagDictString = 0x13,
};

inline constexpr int kMaxDepth = 200;

// Encodes Lua values from the stack, appending to `out`. On failure the
// caller discards what was appended and restores the stack top.
class Writer {
 public:
  // dictIndex: absolute stack index of the dictionary table, 0 for none.
  Writer(lua_State* L, ByteBuffer& out, int dictIndex, std::int64_t limit)
      : L_(L), out_(out), dict_(dictIndex), limit_(dictIndex != 0 ? limit : 0) {}

  // Tagged value at absolute index idx (an absent argument is nil).
  bool value(int idx, int depth = 0);
  // Table body of the table at idx; nil writes the empty body.
  bool tableBody(int idx, int depth = 0);
  // varint32 n, then the n key/value pairs at first, first + 1, ...; n <= 0 writes 0x00.
  bool argPairs(int first, std::int32_t n);

  bool number(double x);
  bool string(const char* s, std::size_t n);
  bool byte(std::uint8_t b);

 private:
  class Cursor;

  // The same operations on the open cursor; out_.length is stale meanwhile.
  bool put(int idx, int depth);
  bool pairs(int idx, int depth);
  bool putNumber(double x);
  bool putString(const char* s, std::size_t n);
  bool putByte(std::uint8_t b);
  // Room for n bytes at p_, growing out_ exactly as ByteBuffer::reserve(n) would.
  bool room(std::size_t n) { return static_cast<std::size_t>(stop_ - p_) >= n || grow(n); }
  bool grow(std::size_t n);
  bool stackFor(int top);
  void open();
  void close();

  lua_State* L_;
  ByteBuffer& out_;
  int dict_;
  std::int64_t limit_;
  // While a public call runs, bytes go straight to p_ (out_.end()), up to
  // stop_ (the end of the block), instead of through out_'s bookkeeping for
  // every value.
  unsigned char* p_ = nullptr;
  unsigned char* stop_ = nullptr;
  // Highest stack top at which a table's four slots are known to be there.
  int checkedTop_ = 0;
};

// Decodes from [begin, begin + size), pushing each result. On failure the
// caller restores the stack top; diagnostics are printed to standard output.
class Reader {
 public:
  // dictIndex: absolute stack index of the dictionary, 0 for none; dictArg is
  // the argument position named in the diagnostics (0 when none).
  Reader(lua_State* L, const unsigned char* begin, std::size_t size, int dictIndex, int dictArg)
      : L_(L), begin_(begin), end_(begin + size), p_(begin), dict_(dictIndex), dictArg_(dictArg) {}

  void seek(std::size_t offset) { p_ = begin_ + offset; }
  std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

  bool value(int depth = 0);
  bool tableBody(int depth = 0);

 private:
  lua_State* L_;
  const unsigned char* begin_;
  const unsigned char* end_;
  const unsigned char* p_;
  int dict_;
  int dictArg_;
};

// Stack index argument `arg` as an absolute index when it is a table, else 0.
int optDictionary(lua_State* L, int arg);
// The engine's to-integer conversion of a limit: 0 for non-numbers.
std::int64_t toLimit(lua_State* L, int arg);

// Arguments of a packet, checked before anything is written.
struct PacketArgs {
  int dict = 0;
  std::int64_t limit = 0;
  PacketHeader header;
  enum class Head { None, Empty, Table, Pairs } head = Head::None;
  enum class Body { None, Bytes, Table, Pairs } body = Body::None;
  int headIndex = 0, bodyIndex = 0;           // tables, or the first pair's argument
  std::int32_t headPairs = 0, bodyPairs = 0;
  const unsigned char* bytes = nullptr;       // raw body
  std::size_t byteCount = 0;
};

// cdr_wr_packet's arguments beginning with the dictionary at `base`. Raises
// "wr packet fail" for a bad magic or start, argument errors for misuse.
PacketArgs checkPacketArgs(lua_State* L, int base);
// cdr_wr_packetva's: the argument count must be base - 1 + 2 * (nhead + nbody) + 7.
PacketArgs checkPacketVaArgs(lua_State* L, int base);
// Appends the packet behind the contents of `out`. False on failure, with
// `out` holding exactly its former contents.
bool appendPacket(lua_State* L, const PacketArgs& args, ByteBuffer& out);

}  // namespace halvix::modules::zsocket::cdr
