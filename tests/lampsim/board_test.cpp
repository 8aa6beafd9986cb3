// Frames meeting the simulated lamps: which lamp takes them and how they are timed.
#include <gtest/gtest.h>

#include "tests/lampsim/demo_lua.h"
#include "tools/lampsim/lamp_board.h"
#include "tools/lampsim/lamp_report.h"

namespace halvix::test {
namespace {

using namespace lampsim;

class LampBoardTest : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_LUA(kUseDemo);
    auto load = parseLampConfig("a 127.0.0.1 4000\nb 127.0.0.1 4000\nc 127.0.0.2 4000\nbroadcast d 10.0.0.255 4001", "x");
    ASSERT_TRUE(load.config) << load.error;
    config_ = *load.config;
  }
  std::string frame(const std::string& id, int seq, long long sentMicros) {
    return fromHex(eval("hex(require('lampdemo.frame').build('" + id + "', 255, 128, 0, " + std::to_string(seq) +
                        ", " + std::to_string(sentMicros) + "))"));
  }
  LampConfig config_;
};

TEST_F(LampBoardTest, AFrameCountsForTheLampListeningWhereItArrived) {
  LampBoard board(config_);
  const std::vector<std::string> shared{"a", "b"}, broadcast{"d"};
  const Arrival at{1000, 2000};
  struct Case {
    std::string bytes;
    const std::vector<std::string>* accepted;
    std::string reason;
  };
  const Case cases[] = {
      {frame("a", 0, 0), &shared, ""},
      {frame("b", 0, 0), &shared, ""},
      {frame("b", 1, 0), &shared, ""},
      {frame("c", 0, 0), &shared, "unknown lamp"},   // c listens elsewhere
      {frame("zz", 0, 0), &shared, "unknown lamp"},  // nobody's
      {frame("d", 0, 0), &broadcast, ""},
      {frame("a", 1, 0), &broadcast, "unknown lamp"},
      {"junk", &shared, "short frame"},
  };
  for (const auto& c : cases) EXPECT_EQ(board.receive(c.bytes, *c.accepted, at, nullptr).reason, c.reason);

  std::vector<std::uint64_t> frames;
  for (const auto& lamp : board.lamps()) frames.push_back(lamp.track.frames());
  EXPECT_EQ(frames, (std::vector<std::uint64_t>{1, 2, 0, 1}));  // a, b, c, then the broadcast lamp d
  EXPECT_EQ(board.badFrames(), 4u);
  EXPECT_EQ(board.latency().count(), 4u);
}

TEST_F(LampBoardTest, LatencyRunsFromTheStampWhenThereAreStampsElseFromTheSendTime) {
  const std::vector<std::string> shared{"a", "b"};
  StampFollower stamps("/nonexistent");
  stamps.feed("5000 ff8000\n7000 000000\n");
  struct Case {
    const char* what;
    const StampFollower* stamps;
    long long sentMicros;
    Arrival arrival;
    std::optional<std::int64_t> latency;
    LatencySource from;
  };
  const Case cases[] = {
      {"send time", nullptr, 1000, {0, 1250}, 250000, LatencySource::Sent},
      {"stamp", &stamps, 1000, {9000, 1250}, 4000, LatencySource::Stamp},
      {"no stamp yet", &stamps, 1000, {4000, 1250}, std::nullopt, LatencySource::None},
      {"send time beyond any sum", nullptr, -9223372036854775807LL, {0, 1250}, std::nullopt, LatencySource::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LampBoard board(config_);
    auto record = board.receive(frame("a", 0, c.sentMicros), shared, c.arrival, c.stamps);
    ASSERT_TRUE(record.ok()) << record.reason;
    EXPECT_EQ(record.latencyNs, c.latency);
    EXPECT_EQ(record.latencyFrom, c.from);
    EXPECT_EQ(board.latency().count(), c.latency ? 1u : 0u);
  }
}

TEST(WledBoardTest, RoundsThatMissLedsAreCountedAndStampsTimeThePackets) {
  auto load = parseLampConfig("a 127.0.0.1 4000\nstrip 127.0.0.1 4002 wled 600", "x");
  ASSERT_TRUE(load.config) << load.error;
  LampBoard board(*load.config);
  const std::vector<std::string> strip{"strip"};
  auto dnrgb = [](int start, int count, const std::string& rgb) {
    char head[16];
    std::snprintf(head, sizeof head, "0402%04x", start);
    std::string hex = head;
    for (int i = 0; i < count; ++i) hex += rgb;
    return fromHex(hex);
  };
  StampFollower stamps("/nonexistent");
  stamps.feed("5000 ff8000\n");
  const Arrival at{9000, 0};
  struct Case {
    std::string bytes;
    std::uint64_t round;
    std::string reason;
  };
  // A 600-LED strip is two DNRGB packets a tick; the third tick lost its second.
  const Case cases[] = {
      {dnrgb(0, 489, "ff8000"), 1, ""},  {dnrgb(489, 111, "ff8000"), 1, ""}, {dnrgb(0, 489, "00ff00"), 2, ""},
      {dnrgb(0, 489, "00ff00"), 3, ""},  {dnrgb(489, 111, "00ff00"), 3, ""}, {fromHex("0202ff8000"), 4, ""},
      {fromHex("040200"), 0, "short DNRGB packet"},
  };
  for (const auto& c : cases) {
    auto record = board.receive(c.bytes, strip, at, &stamps);
    EXPECT_EQ(record.reason, c.reason);
    EXPECT_EQ(record.round, c.round);
    const bool stamped = record.ok() && record.wled.packet.leds.front().colour == Rgb{0xff, 0x80, 0};
    EXPECT_EQ(record.latencyNs, stamped ? std::optional<std::int64_t>(4000) : std::nullopt);
  }
  EXPECT_EQ(board.receive(fromHex("0202ff8000"), strip, at, nullptr).latencyFrom, LatencySource::None);

  const auto& lamp = board.lamps()[1];
  EXPECT_EQ(lamp.strip.rounds(), 5u);
  EXPECT_EQ(lamp.strip.incompleteRounds(), 3u);  // the third tick's, and both lone DRGB packets'
  EXPECT_EQ(board.badFrames(), 1u);
  EXPECT_EQ(board.latency().count(), 3u);
  EXPECT_EQ(liveLine(board, false, 3), "a=- strip=ff8000[00ff00,00ff00,00ff00]");
  EXPECT_NE(summaryText(board).find("lamp strip: 7 frames, 5 rounds, 3 incomplete rounds, latency p50 0.004 ms, "
                                    "p99 0.004 ms, max 0.004 ms, wled 600 LEDs\n"),
            std::string::npos)
      << summaryText(board);
}

}  // namespace
}  // namespace halvix::test
