// The lamp list, read by the demo application and by lampsim alike.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/lampsim/demo_lua.h"
#include "tests/support/temp_dir.h"
#include "tools/lampsim/lamp_config.h"

namespace halvix::test {
namespace {

using lampsim::parseLampConfig;

class LampConfigTest : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_LUA(kUseDemo);
  }
  // What the application's reader says of a list: its first problem ("" for
  // none) and how many lamps it kept besides the skipped lines.
  std::string luaError(const std::string& text, int* kept = nullptr) {
    lua_pushlstring(L(), text.data(), text.size());
    lua_setglobal(L(), "configText");
    EXPECT_LUA("parsed = require('lampdemo.config').parse(configText, 'lamps.conf')");
    if (kept) *kept = std::stoi(eval("#parsed.order + (parsed.broadcast and 1 or 0)"));
    return eval("parsed.problems[1] or ''");
  }
  std::string luaLoadError(const std::string& path) {
    lua_pushlstring(L(), path.data(), path.size());
    lua_setglobal(L(), "configPath");
    return eval("select(2, require('lampdemo.config').load(configPath)) or ''");
  }
};

TEST_F(LampConfigTest, BothReadersRefuseTheSameLinesForTheSameReason) {
  struct Case {
    std::string text;
    std::string error;  // "" when the list is taken
  };
  const Case cases[] = {
      {"", ""},
      {"# only a comment\n\n   \n", ""},
      {"a 127.0.0.1 4000\nb 127.0.0.1 4000  # shares a's socket\r\nbroadcast c 10.0.0.255 4001", ""},
      {"a 127.0.0.1", "lamps.conf:1: expected \"identifier address port [lf | wled LEDS [TIMEOUT]]\""},
      {"a 127.0.0.1 4000 lf extra", "lamps.conf:1: expected \"identifier address port [lf | wled LEDS [TIMEOUT]]\""},
      {"\nbroadcast c 10.0.0.255",
       "lamps.conf:2: expected \"broadcast identifier address port [lf | wled LEDS [TIMEOUT]]\""},
      {"a 127.0.0.1 4000 lf\nb 127.0.0.1 4001 wled 1\nc 127.0.0.1 4002 wled 1500 255\nbroadcast d 10.0.0.255 21324 "
       "wled 30 1",
       ""},
      {"a 127.0.0.1 4000 extra", "lamps.conf:1: unknown protocol extra (lf or wled)"},
      {"a 127.0.0.1 4000 wled", "lamps.conf:1: expected \"identifier address port [lf | wled LEDS [TIMEOUT]]\""},
      {"a 127.0.0.1 4000 wled 3 2 1", "lamps.conf:1: expected \"identifier address port [lf | wled LEDS [TIMEOUT]]\""},
      {"a 127.0.0.1 4000 wled 0", "lamps.conf:1: LED count 0 out of range (1 to 1500)"},
      {"a 127.0.0.1 4000 wled 1501", "lamps.conf:1: LED count 1501 out of range (1 to 1500)"},
      {"a 127.0.0.1 4000 wled 3x", "lamps.conf:1: LED count 3x out of range (1 to 1500)"},
      {"a 127.0.0.1 4000 wled 30 0", "lamps.conf:1: bad timeout 0 (1 to 255 seconds)"},
      {"a 127.0.0.1 4000 wled 30 256", "lamps.conf:1: bad timeout 256 (1 to 255 seconds)"},
      {"a 127.0.0.1 4000\nb 127.0.0.1 4000 wled 30", "lamps.conf:2: lamp b shares 127.0.0.1:4000 with lamp a"},
      {"broadcast a 10.0.0.255 21324 wled 3\nb 10.0.0.255 21324", "lamps.conf:2: lamp b shares 10.0.0.255:21324 with lamp a"},
      {"a 127.0.0.256 4000", "lamps.conf:1: bad IPv4 address 127.0.0.256"},
      {"a 127.0.1 4000", "lamps.conf:1: bad IPv4 address 127.0.1"},
      {"a 127.0.0.1. 4000", "lamps.conf:1: bad IPv4 address 127.0.0.1."},
      {"a 1270.0.0.1 4000", "lamps.conf:1: bad IPv4 address 1270.0.0.1"},
      {"a localhost 4000", "lamps.conf:1: bad IPv4 address localhost"},
      {"a 127.0.0.1 0", "lamps.conf:1: bad port 0"},
      {"a 127.0.0.1 65536", "lamps.conf:1: bad port 65536"},
      {"a 127.0.0.1 -1", "lamps.conf:1: bad port -1"},
      {"a 127.0.0.1 40x", "lamps.conf:1: bad port 40x"},
      {std::string(256, 'x') + " 127.0.0.1 4000", "lamps.conf:1: identifier longer than 255 bytes"},
      {"a 127.0.0.1 4000\na 127.0.0.2 4001", "lamps.conf:2: lamp a listed twice"},
      {"broadcast a 10.0.0.255 4001\na 127.0.0.1 4000", "lamps.conf:2: lamp a listed twice"},
      {"broadcast a 10.0.0.255 4001\nbroadcast b 10.0.0.255 4001", "lamps.conf:2: a second broadcast lamp"},
      // Words are echoed to terminals and logs: no control characters, but
      // any other bytes, and anything in a comment.
      {"d\xc3\xa9sk 127.0.0.1 4000\n\xe9\xff 127.0.0.1 4000 # \x1b[2J", ""},
      {"a\x1b[2J 127.0.0.1 4000", "lamps.conf:1: control character U+001B"},
      {std::string("a\0 127.0.0.1 4000", 17), "lamps.conf:1: control character U+0000"},
      {"a 127.0.0.1 4000\x7f", "lamps.conf:1: control character U+007F"},
      {"a\xc2\x9b" "2J 127.0.0.1 4000", "lamps.conf:1: control character U+009B"},
      {"\nbroadcast\x07 c 10.0.0.255 4001", "lamps.conf:2: control character U+0007"},
      {"a 127.0.0.1\x08 4000", "lamps.conf:1: control character U+0008"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto load = parseLampConfig(c.text, "lamps.conf");
    EXPECT_EQ(load.error, c.error);
    EXPECT_EQ(load.config.has_value(), c.error.empty());
    EXPECT_EQ(luaError(c.text), c.error);
  }
  // lampsim refuses the whole list; the application skips the bad line and
  // keeps the others.
  int kept = 0;
  EXPECT_EQ(luaError("a 127.0.0.1 4000\nb 127.0.0.1 0\nc 127.0.0.1 4001 wled 9999\nd 127.0.0.1 4002 wled 3", &kept),
            "lamps.conf:2: bad port 0");
  EXPECT_EQ(kept, 2);
}

TEST_F(LampConfigTest, AListIsReadInFileOrderWithTheBroadcastLampApart) {
  auto load = parseLampConfig("b 127.0.0.2 4000\na 127.0.0.1 65535 wled 600 5\nbroadcast c 10.1.2.255 4001 wled 3\n", "x");
  ASSERT_TRUE(load.config) << load.error;
  const auto& lamps = load.config->lamps;
  ASSERT_EQ(lamps.size(), 2u);
  EXPECT_EQ(lamps[0].id, "b");
  EXPECT_EQ(lampsim::addressText(lamps[0].address), "127.0.0.2");
  EXPECT_EQ(lamps[0].protocol, lampsim::LampProtocol::Lf);
  EXPECT_EQ(lamps[1].port, 65535);
  EXPECT_EQ(lamps[1].protocol, lampsim::LampProtocol::Wled);
  EXPECT_EQ(lamps[1].ledCount, 600u);
  EXPECT_EQ(lamps[1].timeoutSeconds, 5u);
  EXPECT_EQ(load.config->broadcast->timeoutSeconds, 2u) << "the default";
  ASSERT_TRUE(load.config->broadcast);
  EXPECT_EQ(load.config->broadcast->id, "c");
  EXPECT_EQ(lampsim::addressText(load.config->broadcast->address), "10.1.2.255");

  auto missing = lampsim::loadLampConfig("/nonexistent/lamps.conf");
  EXPECT_FALSE(missing.config);
  EXPECT_EQ(missing.error, "cannot read /nonexistent/lamps.conf: No such file or directory");
}

// Neither reader takes more than 1 MiB of list, nor a file it cannot read.
TEST_F(LampConfigTest, BothReadersRefuseAListTooLongOrUnreadable) {
  TempDir dir;
  const std::string lamp = "a 127.0.0.1 4000\n";
  const std::string oneMiB = lamp + std::string(1024 * 1024 - lamp.size(), '#');
  const std::string exact = dir.write("exact.conf", oneMiB).string();
  const std::string over = dir.write("over.conf", oneMiB + "#").string();
  const std::string folder = dir.path().string();
  struct Case {
    std::string path;
    std::string error;  // the start of the error; "" when the list is taken
  };
  std::vector<Case> cases = {
      {exact, ""},
      {over, over + ": longer than 1 MiB"},
      {folder, "cannot read " + folder + ": "},
  };
#ifndef _WIN32
  cases.push_back({"/dev/zero", "/dev/zero: longer than 1 MiB"});
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto load = lampsim::loadLampConfig(c.path);
    EXPECT_EQ(load.error.substr(0, c.error.size()), c.error);
    EXPECT_EQ(load.error.empty(), c.error.empty()) << load.error;
    EXPECT_EQ(load.config.has_value(), c.error.empty());
    EXPECT_EQ(luaLoadError(c.path), load.error);
  }
}

}  // namespace
}  // namespace halvix::test
