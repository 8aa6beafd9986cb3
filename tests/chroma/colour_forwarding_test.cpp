// Colour forwarding through a real activation: the calls a tick makes, how
// their answers are read, and packed-data replies sent on loopback.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "chroma/chroma_bridge.h"
#include "chroma/colour_forwarding.h"
#include "platform/network_adapters.h"
#include "sdk/globals.h"
#include "tests/chroma/lamp_app.h"
#include "tests/support/hot_dev_app.h"
#include "tests/support/loopback_adapters.h"
#include "tests/support/udp_receiver.h"

namespace halvix::test {
namespace {

using chroma::ChromaBridge;
using chroma::PackedReply;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;

// The lamp call for a one-letter identifier with the colour (255, 128, 0).
std::string lampCall(char identifier) {
  std::string bytes = "\x94\xd9\x21" "api.razerkit.razer_halvix_control" "\xb7" "setColorWithoutResponse";
  bytes += '\xa1';
  bytes += identifier;
  bytes += std::string("\x83\xa1" "b\x00\xa1" "g\xcc\x80\xa1" "r\xcc\xff", 12);
  return bytes;
}

std::size_t count(const std::string& text, const std::string& line) {
  std::size_t n = 0;
  for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

class ColourForwardingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sdk::setHotDevMode(true);
    app_ = makeLampApp();
    native_ = std::make_unique<sdk::CorvelNative>(app_->directories());
    Collector init;
    native_->initSDK(recordResult(init), 10, "");
    ASSERT_TRUE(init.waitFor(1));
    ASSERT_EQ(init.items().front(), "true:");
    sdk::setCurrentCorvelNative(native_.get());
    bridge_ = std::make_unique<ChromaBridge>(loopbackHost());
  }
  void TearDown() override {
    bridge_.reset();
    sdk::setCurrentCorvelNative(nullptr);
    native_.reset();
    sdk::setHotDevMode(false);
  }

  // One tick; the calls it made and what their completions printed.
  std::vector<std::string> tick(std::string* printed = nullptr) {
    testing::internal::CaptureStdout();
    bridge_->OnColorTick();
    std::vector<std::string> calls = receivedCalls(*native_);
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return calls;
  }

  std::unique_ptr<HotDevApp> app_;
  std::unique_ptr<sdk::CorvelNative> native_;
  std::unique_ptr<ChromaBridge> bridge_;
};

TEST_F(ColourForwardingTest, EachTickCallsTheEnabledLampsInSlotOrderOrTheBroadcastLampAlone) {
  auto& relay = bridge_->relay();
  EXPECT_EQ(tick(), std::vector<std::string>{}) << "no lamp, no call";

  for (const char* id : {"A", "B", "C"}) relay.SetDeviceEnabled(id, true);
  relay.SetDeviceEnabled("B", false);
  relay.setColour({255, 128, 0});
  std::string printed;
  EXPECT_EQ(tick(&printed), (std::vector<std::string>{lampCall('A'), lampCall('C')}));
  EXPECT_EQ(count(printed, "setColor failed: lamp offline\n"), 1u) << printed;
  EXPECT_EQ(count(printed, "setColor failed"), 1u) << printed;

  struct Case {
    const char* name;
    std::string identifier;
  };
  for (const Case& c : {Case{"broadcast replaces the table", "B"}, Case{"an empty identifier is still called", ""}}) {
    SCOPED_TRACE(c.name);
    relay.SetBroadcastDevice(true, c.identifier);
    const std::vector<std::string> calls = tick(&printed);
    ASSERT_EQ(calls.size(), 1u);
    msgpack::object_handle call = msgpack::unpack(calls[0].data(), calls[0].size());
    std::vector<msgpack::object> fields;
    call.get().convert(fields);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[1].as<std::string>(), "setColorWithoutResponsePackedData");
    EXPECT_EQ(fields[2].as<std::string>(), c.identifier);
    EXPECT_THAT(printed, HasSubstr("setColorWithoutResponsePackedData failed\n"));
  }
}

TEST(ColourForwarding, ParsePackedReply) {
  struct Case {
    const char* name;
    std::string reply;
    std::optional<PackedReply> expected;
  };
  const Case cases[] = {
      {"no TAB", "127.0.0.1", std::nullopt},
      {"first TAB last", "127.0.0.1\t", std::nullopt},
      {"one TAB only", "127.0.0.1\t4000", std::nullopt},
      {"plain", "192.168.1.7\t4000\tpayload", PackedReply{"192.168.1.7", 4000, "payload"}},
      {"port modulo 65536", "a\t70000\tx", PackedReply{"a", 4464, "x"}},
      {"atoi's reading", "a\t \n+12ab\tx", PackedReply{"a", 12, "x"}},
      {"negative port", "a\t-1\tx", PackedReply{"a", 65535, "x"}},
      {"no digits", "a\tport\tx", PackedReply{"a", 0, "x"}},
      {"digits past any integer", "a\t18446744073709551623\tx", PackedReply{"a", 7, "x"}},
      {"empty address and port", "\t\tx", PackedReply{"", 0, "x"}},
      {"empty payload", "a\t1\t", PackedReply{"a", 1, ""}},
      {"payload keeps TABs and NULs", std::string("a\t1\t\t\0b\t", 8), PackedReply{"a", 1, std::string("\t\0b\t", 4)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<PackedReply> parsed = chroma::ParsePackedReply(c.reply);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value());
    if (!parsed) continue;
    EXPECT_EQ(parsed->address, c.expected->address);
    EXPECT_EQ(parsed->port, c.expected->port);
    EXPECT_EQ(parsed->payload, c.expected->payload);
  }
}

TEST_F(ColourForwardingTest, PackedRepliesConfigureTheSenderOnceAndSendTheirPayload) {
  UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  const std::string port = std::to_string(receiver.port());
  bridge_->relay().SetBroadcastDevice(true, "B");
  struct Step {
    const char* name;
    std::optional<std::string> reply;  // none: the application answers false
    std::string printed;
    std::optional<std::string> datagram;
  };
  const std::string payload("twelve\tby\0es", 12);
  const Step steps[] = {
      {"first reply configures", "127.0.0.1\t" + port + "\t" + payload, "got data size:" + std::to_string(11 + port.size() + 12) + "\n", payload},
      {"first destination kept", "127.0.0.9\t" + std::to_string(receiver.port() + 1) + "\tsecond",
       "got data size:", "second"},
      {"empty payload, empty datagram", "127.0.0.1\t" + port + "\t", "got data size:", ""},
      {"no TAB: size line only", "no tab at all", "got data size:13\n", std::nullopt},
      {"empty reply: size line only", "", "got data size:0\n", std::nullopt},
      {"no reply", std::nullopt, "setColorWithoutResponsePackedData failed\n", std::nullopt},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    controlCall(*native_, s.reply ? "reply:" + *s.reply : "noreply");
    std::string printed;
    ASSERT_EQ(tick(&printed).size(), 1u);
    EXPECT_THAT(printed, HasSubstr(s.printed));
    std::string bytes;
    sockaddr_in from{};
    const auto outcome = receiver.receive(bytes, from, s.datagram ? 5000ms : 200ms);
    if (s.datagram) {
      EXPECT_NE(outcome.status, platform::SocketStatus::WouldBlock);
      EXPECT_EQ(bytes, *s.datagram);
    } else {
      EXPECT_EQ(outcome.status, platform::SocketStatus::WouldBlock) << bytes;
    }
    EXPECT_EQ(bridge_->sender().port(), receiver.port());
  }
}

TEST_F(ColourForwardingTest, AReplyAfterTheBridgeIsGoneIsDroppedSilently) {
  UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  controlCall(*native_, "reply:127.0.0.1\t" + std::to_string(receiver.port()) + "\tlate");
  controlCall(*native_, "hold");
  bridge_->relay().SetBroadcastDevice(true, "B");
  ASSERT_EQ(tick().size(), 1u);
  bridge_.reset();

  testing::internal::CaptureStdout();
  controlCall(*native_, "release");
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_THAT(printed, HasSubstr("resultHandler=")) << "the held reply was delivered";
  EXPECT_THAT(printed, Not(HasSubstr("got data size")));
  std::string bytes;
  sockaddr_in from{};
  EXPECT_EQ(receiver.receive(bytes, from, 200ms).status, platform::SocketStatus::WouldBlock);
}

TEST_F(ColourForwardingTest, ALampWhoseCallHasNotRunIsSkippedUntilItHas) {
  controlCall(*native_, "reply:no tab");
  controlCall(*native_, "hold");
  auto& relay = bridge_->relay();
  relay.SetBroadcastDevice(true, "B");
  EXPECT_EQ(tick().size(), 1u);
  EXPECT_EQ(tick().size(), 0u) << "the held call still waits";
  controlCall(*native_, "release");
  EXPECT_EQ(tick().size(), 1u);

  // Switching broadcast off frees what the identifier held.
  relay.SetBroadcastDevice(true, std::string(chroma::ChromaRelayState::kMaxBroadcastIdentifierLength, 'x'));
  relay.SetBroadcastDevice(false, "");
  EXPECT_LT(relay.broadcastDeviceId().capacity(), 64u);
}

// 16 lamps at 20 ms a call take three ticks' time per round: queued
// blindly, the calls would pile up and starve every other call.
TEST_F(ColourForwardingTest, ASlowApplicationGetsTheLatestColourAndStillAnswersOthers) {
  constexpr int kLamps = 16;
  auto& relay = bridge_->relay();
  for (int i = 0; i < kLamps; ++i) relay.SetDeviceEnabled("lamp-" + std::to_string(i), true);
  controlCall(*native_, "slow:20");
  testing::internal::CaptureStdout();
  for (int t = 0; t < 20; ++t) {
    relay.setColour({t, 0, 0});
    bridge_->OnColorTick();
    std::this_thread::sleep_for(100ms);
  }
  const auto asked = std::chrono::steady_clock::now();
  controlCall(*native_, "slow:0");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);

  const chroma::WaitingCalls& waiting = bridge_->forwarder().waitingCalls();
  EXPECT_TRUE(waitUntil([&] {
    for (int i = 0; i < kLamps; ++i)
      if (waiting.waiting(i)) return false;
    return true;
  }));
  relay.setColour({255, 128, 0});
  bridge_->OnColorTick();
  std::vector<std::string> calls = receivedCalls(*native_);
  testing::internal::GetCapturedStdout();
  ASSERT_GE(calls.size(), static_cast<std::size_t>(kLamps));
  for (int i = 0; i < kLamps; ++i) {
    const std::string last = calls[calls.size() - kLamps + i];
    msgpack::object_handle call = msgpack::unpack(last.data(), last.size());
    std::vector<msgpack::object> fields;
    call.get().convert(fields);
    EXPECT_EQ(fields[2].as<std::string>(), "lamp-" + std::to_string(i));
    EXPECT_EQ((fields[3].as<std::map<std::string, int>>()), (std::map<std::string, int>{{"b", 0}, {"g", 128}, {"r", 255}}));
  }
}

}  // namespace
}  // namespace halvix::test
