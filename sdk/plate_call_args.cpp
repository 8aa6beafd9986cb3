#include "sdk/plate_call_args.h"

#include <cstdio>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string_view>

namespace halvix::sdk {

namespace {

// The diagnostic line's text, kept between answers so that writing one
// allocates nothing once the buffer has grown to a line's length.
class LineBuffer : public std::streambuf {
 public:
  void reset() { text_.clear(); }
  const std::string& text() const { return text_; }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) text_.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  std::string text_;
};

void printResultLine(const msgpack::object& result) {
  // One stream, kept: building an ostringstream (and its locale) per answer
  // would cost more than the rest of the decoding. Not one per thread: on
  // mingw-w64 a thread_local object is destroyed after its storage is freed,
  // which corrupted the heap whenever an SDK worker ended. Never destroyed,
  // as an abandoned worker may still print while the process exits.
  static std::mutex lineMutex;
  static auto* const buffer = new LineBuffer;
  static auto* const line = new std::ostream(buffer);
  std::lock_guard<std::mutex> lock(lineMutex);
  buffer->reset();
  line->clear();
  *line << "resultHandler=" << result << "," << static_cast<int>(result.type) << "\n";
  std::fwrite(buffer->text().data(), 1, buffer->text().size(), stdout);
}

}  // namespace

PlateCallArgs PlateCallArgs::fromResults(const std::vector<std::string>& results) {
  PlateCallArgs out;
  out.decode(results.empty() ? std::string_view() : std::string_view(results.front()));
  return out;
}

void PlateCallArgs::decode(std::string_view bytes) {
  ok = false;
  result = msgpack::object();
  args.clear();
  if (zone)
    zone->clear();
  else
    zone = std::make_unique<msgpack::zone>();

  std::size_t offset = 0;
  result = msgpack::unpack(*zone, bytes.data(), bytes.size(), offset);
  printResultLine(result);

  if (result.type == msgpack::type::ARRAY) {
    const auto& array = result.via.array;
    args.assign(array.ptr, array.ptr + array.size);
  } else if (result.type == msgpack::type::MAP) {
    const auto& map = result.via.map;
    for (std::uint32_t i = 0; i < map.size; ++i) {
      const msgpack::object& key = map.ptr[i].key;
      if (key.type != msgpack::type::POSITIVE_INTEGER) continue;
      std::uint64_t k = key.via.u64;
      if (k == 0 || k > kMaxMapKey) continue;
      if (args.size() < k) args.resize(k);  // default objects are nil
      args[k - 1] = map.ptr[i].val;
    }
  }

  if (!args.empty() && args.front().type == msgpack::type::BOOLEAN && args.front().via.boolean) {
    args.erase(args.begin());
    ok = true;
  } else {
    args.clear();
  }
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
