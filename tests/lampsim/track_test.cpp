// Sequence accounting and latency figures of one lamp.
#include <gtest/gtest.h>

#include <vector>

#include "tools/lampsim/lamp_track.h"

namespace halvix::lampsim {
namespace {

TEST(LampTrackTest, GapsLateFramesAndRestartsAreCounted) {
  using V = SeqVerdict;
  struct Case {
    const char* what;
    std::vector<std::uint32_t> seqs;
    std::vector<V> verdicts;
    std::uint64_t missing, reordered, restarts;
    std::uint8_t colourOf;  // index into seqs of the frame whose colour stays
  };
  const Case cases[] = {
      {"in order", {0, 1, 2, 3}, {V::First, V::InOrder, V::InOrder, V::InOrder}, 0, 0, 0, 3},
      {"first frame need not be 0", {41, 42}, {V::First, V::InOrder}, 0, 0, 0, 1},
      {"one gap of three", {0, 4, 5}, {V::First, V::Gap, V::InOrder}, 3, 0, 0, 2},
      {"swapped pair", {0, 2, 1, 3}, {V::First, V::Gap, V::Late, V::InOrder}, 1, 1, 0, 3},
      {"duplicate", {5, 5, 6}, {V::First, V::Late, V::InOrder}, 0, 1, 0, 2},
      {"late frame keeps the newer colour", {0, 1, 2, 0}, {V::First, V::InOrder, V::InOrder, V::Late}, 0, 1, 0, 2},
      {"wrap at 2^32", {4294967294u, 4294967295u, 0, 2}, {V::First, V::InOrder, V::InOrder, V::Gap}, 1, 0, 0, 3},
      {"sender started again", {1000, 1001, 0, 1}, {V::First, V::InOrder, V::Restart, V::InOrder}, 0, 0, 1, 3},
      {"64 behind is still late", {100, 36}, {V::First, V::Late}, 0, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LampTrack track;
    std::vector<V> verdicts;
    for (std::size_t i = 0; i < c.seqs.size(); ++i)
      verdicts.push_back(track.accept(c.seqs[i], Rgb{static_cast<std::uint8_t>(i), 0, 0}));
    EXPECT_EQ(verdicts, c.verdicts);
    EXPECT_EQ(track.frames(), c.seqs.size());
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
