// Inflates arbitrary bytes with the window setting chosen by the first byte,
// output capped. What inflates must survive a deflate/inflate round trip.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "modules/zsocket/compression.h"

namespace zs = halvix::modules::zsocket;

namespace {
constexpr std::size_t kMaxOutput = 1 << 20;
constexpr int kWindowBits[] = {15, -15, 31, 47, 9, -9, 25, 8};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int windowBits = kWindowBits[data[0] % (sizeof kWindowBits / sizeof kWindowBits[0])];
  const char* input = reinterpret_cast<const char*>(data + 1);
  std::string out;
  const auto result = zs::inflateRange(input, size - 1, windowBits, kMaxOutput, out);
  if (out.size() > kMaxOutput) std::abort();
  if (result != zs::InflateResult::Ok || out.empty()) return 0;

  std::string again;
  bool initFailed = false;
  zs::DeflateParams params;
  if (zs::deflateRange(out.data(), out.size(), params, again, initFailed) != 1) std::abort();
  std::string back;
  if (zs::inflateRange(again.data(), again.size(), 15, kMaxOutput, back) != zs::InflateResult::Ok || back != out) {
    std::abort();
  }
  return 0;
}
