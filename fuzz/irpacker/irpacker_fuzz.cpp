// Unpacks arbitrary bytes, and packs arbitrary timing sequences and checks
// that they come back in full, each value near its own code.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "modules/irpacker/irpacker_codec.h"

namespace ir = halvix::modules::irpacker;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::uint16_t> values;
  if (data[0] & 1) {
    const std::size_t n = (size - 1) / 2;
    values.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      values[i] = static_cast<std::uint16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
    }
    std::string packed;
    if (ir::pack(values, packed) != ir::PackStatus::Ok) return 0;
    if (packed.size() > ir::kMaxPacked) std::abort();
    std::vector<std::uint16_t> back;
    const auto result = ir::unpack(
        {reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size()}, back);
    if (result.status != ir::UnpackStatus::Ok || back.size() != values.size()) std::abort();
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int own = ir::codeOf(values[i]);
      const int got = ir::codeOf(back[i]);
      if (std::abs(own - got) > 2) std::abort();
    }
  } else {
    std::vector<std::uint16_t> out;
    const auto result = ir::unpack({data + 1, size - 1}, out);
    if (result.status != ir::UnpackStatus::Ok && result.offset >= size - 1) std::abort();
  }
  return 0;
}
