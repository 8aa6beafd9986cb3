// zacc's time-zone offset against POSIX TZ rules, which only POSIX C
// libraries read.
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "modules/zacc/zacc_time.h"
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

using modules::zacc::standardOffsetAt;

// Sets TZ for the life of the object and restores it afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST(ZaccTimeZone, StandardOffsetIgnoresDaylightSavingAndPasses2038) {
  struct Case {
    const char* tz;
    std::int64_t offset;
  } cases[] = {
      {"UTC0", 0},
      {"CST-8", 28800},
      {"EST5EDT,M3.2.0,M11.1.0", -18000},
      {"<+0530>-5:30", 19800},
      {"NZST-12NZDT,M9.5.0,M4.1.0/3", 43200},
  };
  const std::int64_t instants[] = {
      1700000000,             // November 2023
      1720000000,             // July 2024
      (std::int64_t{1} << 31) + 86400 * 10,   // January 2038, past the 32-bit limit
      (std::int64_t{1} << 31) + 86400 * 180,  // summer 2038
      4102444800 + 86400 * 190,               // July 2100
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.tz);
    for (const std::int64_t t : instants) {
      EXPECT_EQ(c.offset, standardOffsetAt(t)) << c.tz << " at " << t;
    }
  }
}

class ZaccTimeZoneLua : public LuaFixture {};

TEST_F(ZaccTimeZoneLua, TmzoneUsesTheLocalZone) {
  {
    ScopedTimeZone zone("CST-8");
    EXPECT_EQ("28800", eval("zacc.tmzone()"));
  }
  {
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ("-18000", eval("zacc.tmzone()"));
  }
}

}  // namespace
}  // namespace halvix::test
