// The packed-data reply parser on arbitrary bytes, as a Lua application may
// answer anything: it must never crash, and what it gives back is the
// reply's own text around its first two TABs. Inputs are capped at 64 KiB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "chroma/colour_forwarding.h"

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const auto parsed = halvix::chroma::ParsePackedReply(reply);
  if (!parsed) return 0;
  const std::size_t first = reply.find('\t');
  const std::size_t second = reply.find('\t', first + 1);
  if (reply.substr(0, first) != parsed->address || reply.substr(second + 1) != parsed->payload) std::abort();
  return 0;
}
