// The demo application in a host-built Lua state: its answers to the host's
// lamp calls and the frames it sends (to loopback only).
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/lampsim/demo_lua.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_receiver.h"
#include "tools/lampsim/lamp_frame.h"

namespace halvix::test {
namespace {

constexpr const char* kLampsVariable = "HALVIX_DEMO_LAMPS";

// Answers are rendered as their values joined by "|"; a packed-data string as
// "address\tport\t" followed by "<frame>", its payload kept in lastPayload.
constexpr const char* kCaller = R"LUA(
mp = require('lampdemo.msgpack')
app = require('preload')
function callApp(packed)
  local answer
  app.forwardPlateCall(function(bytes) answer = mp.unpack(bytes) end, packed)
  local parts = {}
  for i = 1, table.maxn(answer) do
    local v = answer[i]
    if type(v) == 'string' and v:find('\t') then
      local head, payload = v:match('^([^\t]*\t[^\t]*\t)(.*)$')
      lastPayload = hex(payload)
      v = head .. '<frame>'
    end
    parts[#parts + 1] = tostring(v)
  end
  return table.concat(parts, '|')
end
)LUA";

std::string lampCall(const std::string& method, const std::string& id, const std::string& colour) {
  return "mp.pack({'api.razerkit.razer_halvix_control', '" + method + "', '" + id + "', " + colour + "})";
}
std::string setColour(const std::string& id, const std::string& colour) {
  return lampCall("setColorWithoutResponse", id, colour);
}

struct Sent {
  enum Way { Datagram, Packed } way;
  std::string lamp;
  int r, g, b;
  std::uint32_t seq;
};

struct Call {
  std::string packed;  // a Lua expression
  std::string answer;
  std::optional<Sent> sent;
};

class DemoAppTest : public LuaFixture {
 protected:
  void TearDown() override {
    unsetEnvironment(kLampsVariable);
    LuaFixture::TearDown();
  }
  void start(const std::string& lampsFile) {
    setEnvironment(kLampsVariable, lampsFile);
    ASSERT_LUA(kUseDemo);
    ASSERT_LUA(kCaller);
    ASSERT_LUA("app.initLuaApp()");
  }
  void check(const std::vector<Call>& calls) {
    for (const auto& call : calls) {
      SCOPED_TRACE(call.packed);
      EXPECT_EQ(eval("callApp(" + call.packed + ")"), call.answer);
      if (!call.sent) continue;
      std::string bytes;
      if (call.sent->way == Sent::Datagram) {
        sockaddr_in from{};
        ASSERT_TRUE(receiver_.receive(bytes, from).done());
      } else {
        bytes = fromHex(eval("lastPayload"));
      }
      auto check = lampsim::parseLampFrame(bytes);
      ASSERT_TRUE(check.ok()) << check.reason;
      EXPECT_EQ(check.frame.lampId, call.sent->lamp);
      EXPECT_EQ(check.frame.red, call.sent->r);
      EXPECT_EQ(check.frame.green, call.sent->g);
      EXPECT_EQ(check.frame.blue, call.sent->b);
      EXPECT_EQ(check.frame.seq, call.sent->seq);
    }
    std::string stray;
    sockaddr_in from{};
    EXPECT_FALSE(receiver_.receive(stray, from, std::chrono::milliseconds(100)).done()) << "a datagram too many";
  }

  TempDir dir_;
  UdpReceiver receiver_;
};

TEST_F(DemoAppTest, LampCallsAreAnsweredAndKnownLampsGetFrames) {
  ASSERT_TRUE(receiver_.ok());
  const std::string port = std::to_string(receiver_.port());
  // A bad line is skipped and logged; the other lamps run.
  ASSERT_LUA("logged = {}; print = function(...) logged[#logged + 1] = table.concat({...}, ' ') end");
  const std::string lamps = dir_.write("lamps.conf", "# two lamps on one socket\ndesk 127.0.0.1 " + port +
                                                         "\nlamp 127.0.0.1 0\nshelf 127.0.0.1 " + port +
                                                         "\nbroadcast hall 127.0.0.255 47010\n")
                                .string();
  start(lamps);
  EXPECT_EQ(eval("table.concat(logged, '\\n')"), "lampdemo: line skipped: " + lamps +
                                                    ":3: bad port 0\nlampdemo: 2 lamp(s), broadcast lamp hall from " +
                                                    lamps);
  const std::string orange = "{b = 0, g = 128, r = 255}";
  check({
      {setColour("desk", orange), "true|true", Sent{Sent::Datagram, "desk", 255, 128, 0, 0}},
      {setColour("shelf", "{b = 1, g = 0, r = 0}"), "true|true", Sent{Sent::Datagram, "shelf", 0, 0, 1, 0}},
      {setColour("desk", "{b = 3, g = 2, r = 1}"), "true|true", Sent{Sent::Datagram, "desk", 1, 2, 3, 1}},
      {setColour("zz", orange), "true|false|unknown lamp zz", std::nullopt},
      {setColour("hall", orange), "true|false|unknown lamp hall", std::nullopt},
      {lampCall("setColorWithoutResponsePackedData", "hall", "{b = 7, g = 8, r = 9}"),
       "true|127.0.0.255\t47010\t<frame>", Sent{Sent::Packed, "hall", 9, 8, 7, 0}},
      {lampCall("setColorWithoutResponsePackedData", "desk", orange), "true|false|unknown broadcast lamp desk",
       std::nullopt},
      {setColour("desk", "{b = 0, g = 0, r = 256}"), "true|false|colour needs r, g and b from 0 to 255", std::nullopt},
      {setColour("desk", "{g = 0, r = 1}"), "true|false|colour needs r, g and b from 0 to 255", std::nullopt},
      {setColour("desk", "{b = 0.5, g = 0, r = 1}"), "true|false|colour needs r, g and b from 0 to 255", std::nullopt},
      {setColour("desk", "'red'"), "true|false|colour must be a map", std::nullopt},
      {lampCall("blink", "desk", orange), "true|false|unknown method blink", std::nullopt},
      // Refused calls use no sequence number.
      {setColour("desk", orange), "true|true", Sent{Sent::Datagram, "desk", 255, 128, 0, 2}},
      {"mp.pack({'api.razerkit.nothing', 1})", "false|no function api.razerkit.nothing", std::nullopt},
      {"'not msgpack'", "false|not a packed call", std::nullopt},
  });
}

// What WLED's realtime protocol makes of one colour on `count` LEDs from
// `start`: DRGB (2) from LED 0, or DNRGB (4) with the first LED's index.
std::string wledPacket(int kind, int timeout, int start, int count, const std::string& rgb) {
  std::string bytes{static_cast<char>(kind), static_cast<char>(timeout)};
  if (kind == 4) bytes += {static_cast<char>(start >> 8), static_cast<char>(start & 0xFF)};
  for (int i = 0; i < count; ++i) bytes += rgb;
  return bytes;
}

TEST_F(DemoAppTest, WledLampsGetTheColourOnEveryLed) {
  const std::string rgb = "\x09\x08\x07";
  const struct {
    std::string protocol;  // the words after the port
    std::vector<std::string> packets;
    std::string broadcast;  // one DRGB packet, which every WLED lamp on the LAN takes
  } cases[] = {
      {"wled 30", {wledPacket(2, 2, 0, 30, rgb)}, wledPacket(2, 2, 0, 30, rgb)},
      {"wled 490 255", {wledPacket(2, 255, 0, 490, rgb)}, wledPacket(2, 255, 0, 490, rgb)},
      {"wled 491 5", {wledPacket(4, 5, 0, 489, rgb), wledPacket(4, 5, 489, 2, rgb)}, wledPacket(2, 5, 0, 490, rgb)},
      {"wled 1500",
       {wledPacket(4, 2, 0, 489, rgb), wledPacket(4, 2, 489, 489, rgb), wledPacket(4, 2, 978, 489, rgb),
        wledPacket(4, 2, 1467, 33, rgb)},
       wledPacket(2, 2, 0, 490, rgb)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.protocol);
    UdpReceiver strip;
    ASSERT_TRUE(strip.ok());
    lua_.reset();
    LuaFixture::SetUp();
    start(dir_.write("lamps.conf", "strip 127.0.0.1 " + std::to_string(strip.port()) + " " + c.protocol +
                                       "\nbroadcast hall 127.0.0.255 21324 " + c.protocol + "\n")
              .string());
    EXPECT_EQ(eval("callApp(" + setColour("strip", "{b = 7, g = 8, r = 9}") + ")"), "true|true");
    for (const std::string& packet : c.packets) {
      std::string bytes;
      sockaddr_in from{};
      ASSERT_TRUE(strip.receive(bytes, from).done());
      EXPECT_EQ(bytes, packet);
    }
    std::string stray;
    sockaddr_in from{};
    EXPECT_FALSE(strip.receive(stray, from, std::chrono::milliseconds(100)).done()) << "a packet too many";
    EXPECT_EQ(eval("callApp(" + lampCall("setColorWithoutResponsePackedData", "hall", "{b = 7, g = 8, r = 9}") + ")"),
              "true|127.0.0.255\t21324\t<frame>");
    EXPECT_EQ(fromHex(eval("lastPayload")), c.broadcast);
  }
}

// The sending socket and the clock are stood in for: lamp "gone" (port 9)
// refuses every datagram; a refusal the system reports late, on the next
// send to another lamp, comes once when `stale` is set.
constexpr const char* kFakeNetwork = R"LUA(
logged = {}; print = function(...) logged[#logged + 1] = table.concat({...}, ' ') end
local socket = require('socket')
sent, stale, clock = {}, false, 1000
socket.gettime = function() return clock end
socket.udp = function()
  return { settimeout = function() end,
           sendto = function(_, payload, address, port)
             if port == 9 then return nil, 'connection refused' end
             if stale then stale = false; return nil, 'connection refused' end
             sent[#sent + 1] = port
             return #payload
           end }
end
)LUA";

TEST_F(DemoAppTest, AnUnreachableLampNeitherHoldsUpTheOthersNorFillsTheLog) {
  ASSERT_LUA(kFakeNetwork);
  start(dir_.write("lamps.conf", "gone 127.0.0.1 9 wled 600\ndesk 127.0.0.1 4000\n").string());
  const std::string refused = "true|false|sending to lamp gone failed: connection refused";
  const struct {
    int clock;
    std::string lamp;
    bool stale;
    std::string answer;
  } calls[] = {
      {1000, "gone", false, refused}, {1000, "desk", true, "true|true"}, {1030, "gone", false, refused},
      {1059, "gone", false, refused}, {1060, "gone", false, refused},    {1061, "desk", false, "true|true"},
  };
  for (const auto& call : calls) {
    ASSERT_LUA("clock = " + std::to_string(call.clock) + "; stale = " + (call.stale ? "true" : "false"));
    EXPECT_EQ(eval("callApp(" + setColour(call.lamp, "{b = 0, g = 0, r = 1}") + ")"), call.answer);
  }
  EXPECT_EQ(eval("table.concat(sent, ' ')"), "4000 4000") << "the stale refusal was tried again";
  const std::string failure = "lampdemo: sending to lamp gone failed: connection refused";
  EXPECT_EQ(eval("table.concat(logged, '\\n', 2)"), failure + "\n" + failure) << "once a minute";
}

TEST_F(DemoAppTest, WithoutAReadableLampListEveryCallSaysWhy) {
  struct Case {
    std::string file;
    std::string content;  // written unless empty
    std::string reason;
  };
  const std::string bad = (dir_.path() / "bad.conf").string();
  std::vector<Case> cases = {
      {"/nonexistent/lamps.conf", "", "no lamps: cannot read /nonexistent/lamps.conf: No such file or directory"},
  };
#ifndef _WIN32
  cases.push_back({"/dev/zero", "", "no lamps: /dev/zero: longer than 1 MiB"});
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    if (!c.content.empty()) dir_.write("bad.conf", c.content);
    lua_.reset();
    LuaFixture::SetUp();
    ASSERT_LUA("logged = {}; print = function(...) logged[#logged + 1] = table.concat({...}, ' ') end");
    start(c.file);
    EXPECT_EQ(eval("table.concat(logged, '\\n')"), "lampdemo: " + c.reason);
    check({
        {setColour("desk", "{b = 0, g = 0, r = 0}"), "true|false|" + c.reason, std::nullopt},
        {lampCall("setColorWithoutResponsePackedData", "hall", "{b = 0, g = 0, r = 0}"), "true|false|" + c.reason,
         std::nullopt},
    });
  }
}

}  // namespace
}  // namespace halvix::test
