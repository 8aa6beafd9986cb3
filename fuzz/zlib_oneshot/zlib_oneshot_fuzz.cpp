// The one-shot inflate behind zsocket.decompress and zlib.decompress, on
// arbitrary bytes with the window setting chosen by the first byte and the
// output capped. What inflates must survive a deflate/inflate round trip.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "modules/common/zlib_oneshot.h"

namespace zo = halvix::modules::zlib_oneshot;

namespace {
constexpr std::size_t kMaxOutput = 1 << 20;
constexpr int kWindowBits[] = {15, -15, 31, 47, 9, -9, 25, 8};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int windowBits = kWindowBits[data[0] % (sizeof kWindowBits / sizeof kWindowBits[0])];
  const char* input = reinterpret_cast<const char*>(data + 1);
  std::string out;
  const zo::InflateOutcome result = zo::inflateAll(input, size - 1, windowBits, kMaxOutput, out);
  if (out.size() > kMaxOutput) std::abort();
  if (result.status != zo::InflateStatus::Ok || out.empty()) return 0;

  std::string again;
  if (zo::deflateAll(out.data(), out.size(), zo::DeflateParams{}, again).status != 1) std::abort();
  std::string back;
  if (zo::inflateAll(again.data(), again.size(), 15, kMaxOutput, back).status != zo::InflateStatus::Ok || back != out) {
    std::abort();
  }
  return 0;
}
