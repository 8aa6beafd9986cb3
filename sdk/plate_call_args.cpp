#include "sdk/plate_call_args.h"

#include <cstdio>
#include <mutex>
#include <sstream>

namespace halvix::sdk {

PlateCallArgs PlateCallArgs::fromResults(const std::vector<std::string>& results) {
  PlateCallArgs out;
  const std::string empty;
  const std::string& bytes = results.empty() ? empty : results.front();

  std::size_t offset = 0;
  msgpack::object_handle handle = msgpack::unpack(bytes.data(), bytes.size(), offset);
  out.result = handle.get();
  out.zone = std::move(handle.zone());

  // One stream, kept: building an ostringstream (and its locale) per answer
  // would cost more than the rest of the decoding. Not one per thread: on
  // mingw-w64 a thread_local object is destroyed after its storage is freed,
  // which corrupted the heap whenever an SDK worker ended. Never destroyed,
  // as an abandoned worker may still print while the process exits.
  static std::mutex lineMutex;
  static auto* const line = new std::ostringstream;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(lineMutex);
    line->str(std::string());
    line->clear();
    *line << "resultHandler=" << out.result << "," << static_cast<int>(out.result.type) << "\n";
    text = line->str();
  }
  std::fwrite(text.data(), 1, text.size(), stdout);

  if (out.result.type == msgpack::type::ARRAY) {
    const auto& array = out.result.via.array;
    out.args.assign(array.ptr, array.ptr + array.size);
  } else if (out.result.type == msgpack::type::MAP) {
    const auto& map = out.result.via.map;
    for (std::uint32_t i = 0; i < map.size; ++i) {
      const msgpack::object& key = map.ptr[i].key;
      if (key.type != msgpack::type::POSITIVE_INTEGER) continue;
      std::uint64_t k = key.via.u64;
      if (k == 0 || k > kMaxMapKey) continue;
      if (out.args.size() < k) out.args.resize(k);  // default objects are nil
      out.args[k - 1] = map.ptr[i].val;
    }
  }

  if (!out.args.empty() && out.args.front().type == msgpack::type::BOOLEAN && out.args.front().via.boolean) {
    out.args.erase(out.args.begin());
    out.ok = true;
  } else {
    out.args.clear();
  }
  return out;
}

const msgpack::object* PlateCallArgs::element(std::size_t index, bool& decided) const {
  if (index >= args.size()) {
    decided = false;
    return nullptr;
  }
  const msgpack::object& value = args[index];
  if (value.type == msgpack::type::ARRAY && value.via.array.size == 0) {
    decided = true;
    return nullptr;
  }
  return &value;
}

namespace {
bool typeMismatch(std::size_t index, const msgpack::object& value) {
  std::printf("MsgPackAssemble::get[%zu] exception, type=%d\n", index, static_cast<int>(value.type));
  return false;
}
}  // namespace

bool PlateCallArgs::get(std::size_t index, std::string& out) const {
  bool decided = false;
  const msgpack::object* value = element(index, decided);
  if (!value) return decided;
  if (value->type == msgpack::type::STR) {
    out.assign(value->via.str.ptr, value->via.str.size);
    return true;
  }
  if (value->type == msgpack::type::BIN) {
    out.assign(value->via.bin.ptr, value->via.bin.size);
    return true;
  }
  return typeMismatch(index, *value);
}

bool PlateCallArgs::get(std::size_t index, bool& out) const {
  bool decided = false;
  const msgpack::object* value = element(index, decided);
  if (!value) return decided;
  if (value->type == msgpack::type::BOOLEAN) {
    out = value->via.boolean;
    return true;
  }
  return typeMismatch(index, *value);
}

}  // namespace halvix::sdk
