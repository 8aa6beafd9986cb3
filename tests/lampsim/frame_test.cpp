// Frames built by the demo application, read by lampsim.
#include <gtest/gtest.h>

#include "tests/lampsim/demo_lua.h"
#include "tools/lampsim/lamp_frame.h"

namespace halvix::test {
namespace {

using lampsim::parseLampFrame;

class LampFrameTest : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_LUA(kUseDemo);
  }
  std::string build(const std::string& arguments) {
    return fromHex(eval("hex(require('lampdemo.frame').build(" + arguments + "))"));
  }
};

TEST_F(LampFrameTest, FramesFromTheApplicationAreReadWithTheirFields) {
  struct Case {
    std::string arguments;
    std::string golden;
    lampsim::LampFrame expected;
  };
  const Case cases[] = {
      {"'desk', 255, 128, 0, 7, 1733760000123456", "4c4601046465736bff800000000007000628d874eee2403b79",
       {"desk", 255, 128, 0, 7, 1733760000123456}},
      {"'', 0, 0, 0, 0, 0", "4c46010000000000000000000000000000000041ad", {"", 0, 0, 0, 0, 0}},
      {"'lamp-b', 1, 2, 3, 4294967295, -1", "4c4601066c616d702d62010203ffffffffffffffffffffffffd5ff",
       {"lamp-b", 1, 2, 3, 4294967295u, -1}},
      {"string.rep('x', 255), 9, 8, 7, 65536, 2^40", "", {std::string(255, 'x'), 9, 8, 7, 65536, 1LL << 40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const std::string bytes = build(c.arguments);
    if (!c.golden.empty()) {
      EXPECT_EQ(fromHex(c.golden), bytes);
    }
    auto check = parseLampFrame(bytes);
    ASSERT_TRUE(check.ok()) << check.reason;
    EXPECT_EQ(check.frame.lampId, c.expected.lampId);
    EXPECT_EQ(check.frame.red, c.expected.red);
    EXPECT_EQ(check.frame.green, c.expected.green);
    EXPECT_EQ(check.frame.blue, c.expected.blue);
    EXPECT_EQ(check.frame.seq, c.expected.seq);
    EXPECT_EQ(check.frame.sentMicros, c.expected.sentMicros);
  }
}

TEST_F(LampFrameTest, DamagedFramesAreRefusedWithTheirReason) {
  const std::string good = build("'desk', 255, 128, 0, 7, 1733760000123456");
  ASSERT_EQ(good.size(), 25u);
  auto flip = [&](std::size_t at, char mask) {
    std::string b = good;
    b[at] = static_cast<char>(b[at] ^ mask);
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"empty", "", "short frame"},
      {"cut below the fixed part", good.substr(0, 20), "short frame"},
      {"cut after the identifier", good.substr(0, 24), "bad length"},
      {"a byte too many", good + '\0', "bad length"},
      {"identifier length changed", flip(3, 0x01), "bad length"},
      {"wrong magic", flip(0, 0x20), "bad magic"},
      {"wrong version", flip(2, 0x03), "bad version"},
      {"colour bit flipped", flip(9, 0x01), "bad checksum"},
      {"send time bit flipped", flip(20, 0x80), "bad checksum"},
      {"checksum bit flipped", flip(24, 0x01), "bad checksum"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parseLampFrame(c.bytes).reason, c.reason);
  }
}

}  // namespace
}  // namespace halvix::test
