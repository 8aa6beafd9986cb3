#pragma once
// The answer of a host-to-Lua call, decoded for native callers: the Lua
// application answers [true, results...] or [false, message]; a Lua list with
// holes arrives as a map with integer keys.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <msgpack.hpp>

namespace halvix::sdk {

class PlateCallArgs {
 public:
  // Highest integer key of a map answer that is given a position. Keys above
  // it, and keys that are not positive integers, are ignored.
  static constexpr std::uint64_t kMaxMapKey = 4096;

  // Decodes the first MessagePack object of the first string. Throws
  // msgpack's unpack errors (parse error, insufficient bytes) for bad bytes.
  // Prints the "resultHandler=" diagnostic line to standard output.
  static PlateCallArgs fromResults(const std::vector<std::string>& results);
  // The same into this object, whose zone and argument list keep their
  // memory for the next answer; nothing of the previous answer stays valid.
  void decode(std::string_view bytes);

  // Element `index` of args as bytes (str or bin) or as a bool. False for a
  // missing index; an empty array succeeds with `out` untouched; a wrong type
  // prints "MsgPackAssemble::get[i] exception, type=t" and fails.
  bool get(std::size_t index, std::string& out) const;
  bool get(std::size_t index, bool& out) const;

  bool ok = false;
  msgpack::object result;
  std::unique_ptr<msgpack::zone> zone;
  std::vector<msgpack::object> args;

 private:
  // Returns the element to convert, or null when the rule already decided
  // (`decided` then holds the answer).
  const msgpack::object* element(std::size_t index, bool& decided) const;
};

using PlateCallArgsCallback = std::function<void(PlateCallArgs&)>;

}  // namespace halvix::sdk
