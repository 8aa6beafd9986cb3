// Frames built by the demo application, and hand-made WLED packets, read by lampsim.
#include <gtest/gtest.h>

#include "tests/lampsim/demo_lua.h"
#include "tools/lampsim/lamp_frame.h"
#include "tools/lampsim/wled_packet.h"

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

TEST(WledPacketTest, PacketsOfEachProtocolSetTheirLedsOrAreRefusedWithTheirReason) {
  using lampsim::WledLed;
  std::string drgb491 = "0202";
  for (int i = 0; i < 491; ++i) drgb491 += "000000";
  struct Case {
    const char* what;
    std::string hex;
    unsigned ledCount;
    std::string reason;
    const char* protocol = "";
    int timeout = 0;
    std::vector<WledLed> leds = {};
  };
  const Case cases[] = {
      {"WARLS in any order", "0102" "05010203" "00040506", 10, "", "WARLS", 2, {{5, {1, 2, 3}}, {0, {4, 5, 6}}}},
      {"DRGB from LED 0", "02ff" "010203" "040506", 10, "", "DRGB", 255, {{0, {1, 2, 3}}, {1, {4, 5, 6}}}},
      {"DRGBW with white", "0301" "01020304", 10, "", "DRGBW", 1, {{0, {1, 2, 3}, 4}}},
      {"DNRGB from 489", "0402" "01e9" "0a0b0c", 600, "", "DNRGB", 2, {{489, {10, 11, 12}}}},
      {"only the header", "0202", 10, "", "DRGB", 2, {}},
      {"empty", "", 10, "short packet"},
      {"one byte", "02", 10, "short packet"},
      {"the notifier's", "0002010203", 10, "unknown protocol 0"},
      {"protocol 5", "0502010203", 10, "unknown protocol 5"},
      {"DNRGB without its start", "040200", 600, "short DNRGB packet"},
      {"DRGB cut in a record", "0202" "01020304", 10, "partial LED record"},
      {"WARLS cut in a record", "0102" "050102", 10, "partial LED record"},
      {"DRGB above its most", drgb491, 600, "more than 490 LEDs in a DRGB packet"},
      {"WARLS index at the count", "0102" "0a010203", 10, "LED beyond the lamp's 10"},
      {"DRGB longer than the strip", "0202" "000000" "000000" "000000", 2, "LED beyond the lamp's 2"},
      {"DNRGB running off the end", "0402" "0257" "000000" "000000", 600, "LED beyond the lamp's 600"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto check = lampsim::parseWledPacket(fromHex(c.hex), c.ledCount);
    EXPECT_EQ(check.reason, c.reason);
    if (!check.ok()) continue;
    EXPECT_STREQ(lampsim::wledProtocolName(check.packet.protocol), c.protocol);
    EXPECT_EQ(check.packet.timeoutSeconds, c.timeout);
    EXPECT_EQ(check.packet.leds, c.leds);
  }
}

}  // namespace
}  // namespace halvix::test
