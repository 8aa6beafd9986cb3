// zacc's clock functions.
#include <chrono>
#include <string>

#include "modules/zacc/zacc_time.h"
#include "platform/system_clock.h"
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

using modules::zacc::unixMilliseconds;
using modules::zacc::unixSeconds;

constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ULL;

TEST(ZaccTimeBase, FileTimeConversions) {
  struct Case {
    std::uint64_t fileTime;
    double seconds;
    std::int64_t millis;
  } cases[] = {
      {kUnixEpochFileTime, 0.0, 0},
      {kUnixEpochFileTime + 15000000, 1.5, 1500},
      {kUnixEpochFileTime + 9984, 0.0009984, 0},  // below a millisecond truncates
      {kUnixEpochFileTime - 15000000, -1.5, -1500},
      {0, -11644473600.0, -11644473600000},
      // 2100-01-01 00:00:00 UTC, after the 32-bit limits.
      {kUnixEpochFileTime + 4102444800ULL * 10000000ULL, 4102444800.0, 4102444800000},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(c.seconds, unixSeconds(c.fileTime), 1e-5) << c.fileTime;
    EXPECT_EQ(c.millis, unixMilliseconds(c.fileTime)) << c.fileTime;
  }
}

TEST(ZaccTimeBase, SystemClockFollowsTheRealtimeClock) {
  // std::time may read the coarse clock, a tick behind, so compare with the
  // same fine clock the system clock reads.
  const auto seconds = [] {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  };
  const double before = seconds();
  const double now = unixSeconds(platform::fileTimeNow());
  const double after = seconds();
  EXPECT_GE(now, before - 0.5);
  EXPECT_LE(now, after + 0.5);
}

class ZaccTime : public LuaFixture {};

TEST_F(ZaccTime, ClockFunctionsAgreeWithOsTime) {
  EXPECT_LUA(R"(
    local now = os.time()
    for _, name in ipairs{'timestamp', 'tickstamp'} do
      local t = zacc[name]()
      assert(math.abs(t - now) < 5, name .. ' far from os.time: ' .. t .. ' vs ' .. now)
    end
    local whole, frac = zacc.gettime2()
    eq(whole, math.floor(whole), 'whole seconds')
    assert(frac >= 0 and frac < 1, 'fraction ' .. frac)
    assert(math.abs(whole - now) < 5, 'gettime2 far from os.time')
    local ms = zacc.timems()
    eq(ms, math.floor(ms), 'whole milliseconds')
    assert(math.abs(ms / 1000 - now) < 5, 'timems far from os.time')
    -- Successive readings do not go backwards within a test run by much.
    local a = zacc.timestamp(); local b = zacc.tickstamp()
    assert(b - a > -1 and b - a < 5, 'timestamp then tickstamp')
  )");
}

}  // namespace
}  // namespace halvix::test
