// The Chroma stamps file as lampsim follows it.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "tests/support/temp_dir.h"
#include "tools/lampsim/stamp_follower.h"

namespace halvix::lampsim {
namespace {

TEST(StampFollowerTest, TheLatestStampOfTheColourAtOrBeforeTheArrivalIsTheEvent) {
  StampFollower stamps("/nonexistent");
  // Fed in pieces: a line counts once it is whole.
  stamps.feed("100 ff8000\n200 0000");
  stamps.feed("ff\n300 ff8000\r\n");
  stamps.feed("nonsense\n-5 ff8000\n400 ff80\n500 ff80001\n600 gg0000\n 700 ff8000\n");
  stamps.feed("800 ff8000");  // not yet whole
  EXPECT_EQ(stamps.badLines(), 6u);

  struct Case {
    Rgb colour;
    std::int64_t at;
    std::optional<std::int64_t> event;
  };
  const Case cases[] = {
      {{0xff, 0x80, 0x00}, 99, std::nullopt},
      {{0xff, 0x80, 0x00}, 100, 100},
      {{0xff, 0x80, 0x00}, 299, 100},
      {{0xff, 0x80, 0x00}, 5000, 300},
      {{0x00, 0x00, 0xff}, 250, 200},
      {{0x01, 0x02, 0x03}, 5000, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at);
    EXPECT_EQ(stamps.eventTime(c.colour, c.at), c.event);
  }
}

TEST(StampFollowerTest, TheFileIsFollowedAcrossAppendsTruncationAndReplacement) {
  test::TempDir dir;
  const auto path = dir.path() / "stamps";
  StampFollower stamps(path.string());
  const Rgb red{0xff, 0, 0}, green{0, 0xff, 0};
  stamps.poll();  // not there yet
  EXPECT_EQ(stamps.eventTime(red, 1000), std::nullopt);

  std::ofstream(path) << "10 ff0000\n20 ff";
  stamps.poll();
  EXPECT_EQ(stamps.eventTime(red, 1000), 10);
  std::ofstream(path, std::ios::app) << "0000\n";
  stamps.poll();
  EXPECT_EQ(stamps.eventTime(red, 1000), 20);

  std::ofstream(path, std::ios::trunc) << "30 00ff00\n";  // shorter: read again from the start
  stamps.poll();
  EXPECT_EQ(stamps.eventTime(green, 1000), 30);

  const auto replacement = dir.path() / "next";
  std::ofstream(replacement) << "40 00ff00\n50 00ff00\n60 00ff00\n";
  std::filesystem::rename(replacement, path);
  stamps.poll();
  EXPECT_EQ(stamps.eventTime(green, 1000), 60);
  EXPECT_EQ(stamps.badLines(), 0u);
}

TEST(StampFollowerTest, OnlyTheNewestStampsAreKept) {
  StampFollower stamps("/nonexistent");
  stamps.feed("1 123456\n");
  for (std::size_t i = 0; i < StampFollower::kKept; ++i) stamps.feed(std::to_string(10 + i) + " 000000\n");
  EXPECT_EQ(stamps.eventTime({0x12, 0x34, 0x56}, 1000000), std::nullopt);
  EXPECT_EQ(stamps.eventTime({0, 0, 0}, 1000000), static_cast<std::int64_t>(10 + StampFollower::kKept - 1));
}

}  // namespace
}  // namespace halvix::lampsim
