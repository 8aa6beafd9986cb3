// Frames meeting the simulated lamps: which lamp takes them and how they are timed.
#include <gtest/gtest.h>

#include "tests/lampsim/demo_lua.h"
#include "tools/lampsim/lamp_board.h"

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

}  // namespace
}  // namespace halvix::test
