// The zlib one-shot calls shared by zsocket and the zlib module: the output
// cap is exact, and the endings that the Lua functions fold into one message
// stay apart here.
#include "modules/common/zlib_oneshot.h"

#include <zlib.h>

#include <string>

#include <gtest/gtest.h>

namespace halvix::modules::zlib_oneshot {
namespace {

std::string deflated(const std::string& input) {
  std::string out;
  const DeflateOutcome o = deflateAll(input.data(), input.size(), DeflateParams{}, out);
  EXPECT_EQ(Z_STREAM_END, o.status);
  return out;
}

TEST(ZlibOneShot, InflateOutputIsCappedExactly) {
  const std::string input(1 << 20, 'q');
  const std::string z = deflated(input);
  const struct {
    std::size_t cap;
    InflateStatus status;
  } cases[] = {
      {input.size(), InflateStatus::Ok},
      {input.size() - 1, InflateStatus::TooLarge},
      {4096, InflateStatus::TooLarge},
      {0, InflateStatus::TooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cap);
    std::string out = "stale";
    EXPECT_EQ(c.status, inflateAll(z.data(), z.size(), 15, c.cap, out).status);
    EXPECT_LE(out.size(), c.cap);
    if (c.status == InflateStatus::Ok) {
      EXPECT_EQ(input, out);
    }
  }
}

TEST(ZlibOneShot, EveryEndingHasItsStatus) {
  const std::string input = "hello hello hello hello";
  const std::string z = deflated(input);
  const std::string preset = std::string("\x78\xbb\x00\x00\x00\x01\x4b\x01\x00\x00\x00", 11);
  const struct {
    const char* name;
    std::string data;
    int windowBits;
    InflateStatus status;
    const char* reason;
  } cases[] = {
      {"cut short", z.substr(0, z.size() / 2), 15, InflateStatus::Truncated, ""},
      {"nothing at all", "", 15, InflateStatus::Truncated, ""},
      {"preset dictionary", preset, 15, InflateStatus::Corrupt, "need dictionary"},
      {"window setting", z, 3, InflateStatus::InitFailed, "stream error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    const InflateOutcome o = inflateAll(c.data.data(), c.data.size(), c.windowBits, 1 << 20, out);
    EXPECT_EQ(c.status, o.status);
    EXPECT_STREQ(c.reason, o.reason);
  }
}

}  // namespace
}  // namespace halvix::modules::zlib_oneshot
