// Sequence accounting and latency figures of one lamp.
#include <gtest/gtest.h>

#include <vector>

#include "tools/lampsim/lamp_track.h"

namespace halvix::lampsim {
namespace {

TEST(LampTrackTest, GapsLateFramesAndRestartsAreCounted) {
  using V = SeqVerdict;
  struct Frame {
    std::uint32_t seq;
    std::int64_t sent;
  };
  struct Case {
    const char* what;
    std::vector<Frame> frames;
    std::vector<V> verdicts;
    std::uint64_t missing, reordered, restarts;
    std::uint8_t colourOf;  // index of the frame whose colour stays
  };
  const Case cases[] = {
      {"in order", {{0, 10}, {1, 11}, {2, 12}, {3, 13}}, {V::First, V::InOrder, V::InOrder, V::InOrder}, 0, 0, 0, 3},
      {"first frame need not be 0", {{41, 10}, {42, 11}}, {V::First, V::InOrder}, 0, 0, 0, 1},
      {"one gap of three", {{0, 10}, {4, 14}, {5, 15}}, {V::First, V::Gap, V::InOrder}, 3, 0, 0, 2},
      {"swapped pair", {{0, 10}, {2, 12}, {1, 11}, {3, 13}}, {V::First, V::Gap, V::Late, V::InOrder}, 1, 1, 0, 3},
      {"duplicate", {{5, 10}, {5, 10}, {6, 11}}, {V::First, V::Late, V::InOrder}, 0, 1, 0, 2},
      {"late frame keeps the newer colour", {{0, 10}, {1, 11}, {2, 12}, {0, 10}},
       {V::First, V::InOrder, V::InOrder, V::Late}, 0, 1, 0, 2},
      {"wrap at 2^32", {{4294967294u, 10}, {4294967295u, 11}, {0, 12}, {2, 14}},
       {V::First, V::InOrder, V::InOrder, V::Gap}, 1, 0, 0, 3},
      {"sender started again", {{5, 10}, {6, 11}, {0, 20}, {1, 21}}, {V::First, V::InOrder, V::Restart, V::InOrder},
       0, 0, 1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LampTrack track;
    std::vector<V> verdicts;
    for (std::size_t i = 0; i < c.frames.size(); ++i)
      verdicts.push_back(track.accept(c.frames[i].seq, c.frames[i].sent, Rgb{static_cast<std::uint8_t>(i), 0, 0}));
    EXPECT_EQ(verdicts, c.verdicts);
    EXPECT_EQ(track.frames(), c.frames.size());
    EXPECT_EQ(track.missing(), c.missing);
    EXPECT_EQ(track.reordered(), c.reordered);
    EXPECT_EQ(track.restarts(), c.restarts);
    EXPECT_EQ(track.colour(), (Rgb{c.colourOf, 0, 0}));
  }
}

TEST(LatencyStatsTest, PercentilesAreNearestRank) {
  struct Case {
    std::vector<std::int64_t> samples;
    std::int64_t p50, p99, max;
  };
  std::vector<std::int64_t> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i * 1000);
  const Case cases[] = {
      {{}, 0, 0, 0},
      {{7}, 7, 7, 7},
      {{30, 10, 20}, 20, 30, 30},
      {hundred, 50000, 99000, 100000},
  };
  for (const auto& c : cases) {
    LatencyStats stats;
    for (auto s : c.samples) stats.add(s);
    EXPECT_EQ(stats.percentile(50), c.p50);
    EXPECT_EQ(stats.percentile(99), c.p99);
    EXPECT_EQ(stats.max(), c.max);
  }
}

}  // namespace
}  // namespace halvix::lampsim
