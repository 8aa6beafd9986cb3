#pragma once
// The engine stand-in with an echo handler on a platform thread of its own:
// the host half of the engine's messenger tests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter_engine/messenger_client.h"
#include "tests/support/engine_host.h"

namespace halvix::test {

using flutter_engine::MessengerClient;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

inline constexpr auto kWait = 10s;

inline const flutter::FlutterDesktopApi& api() { return EngineHost::api(); }

// Answers every message on its channel with the message reversed, from the
// thread the test chooses, and records on which thread messages arrived.
struct EchoHandler {
  std::atomic<int> calls{0};
  std::atomic<bool> offLoopThreadSeen{false};
  std::thread::id loopThread;
  bool replyFromOtherThread = false;
  bool replyTwice = false;
  std::vector<std::thread> repliers;

  ~EchoHandler() {
    for (auto& t : repliers) t.join();
  }

  static void callback(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message, void* user) {
    auto* self = static_cast<EchoHandler*>(user);
    ++self->calls;
    if (std::this_thread::get_id() != self->loopThread) self->offLoopThreadSeen = true;
    Bytes reply(message->message, message->message + message->message_size);
    std::reverse(reply.begin(), reply.end());
    auto handle = message->response_handle;
    auto send = [=] {
      api().FlutterDesktopMessengerSendResponse(messenger, handle, reply.data(), reply.size());
      if (self->replyTwice) api().FlutterDesktopMessengerSendResponse(messenger, handle, reply.data(), reply.size());
    };
    if (self->replyFromOtherThread)
      self->repliers.emplace_back(send);
    else
      send();
  }
};

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.listenError(), 0);
    api().FlutterDesktopMessengerSetCallback(host.messenger(), "echo", EchoHandler::callback, &echo);
    host.start();
    echo.loopThread = host.loopThreadId();
  }

  Bytes roundTrip(MessengerClient& client, const std::string& channel, const Bytes& payload) {
    uint32_t id = client.send(channel, payload);
    Bytes reply;
    EXPECT_EQ(client.waitReply(id, kWait, &reply), MessengerClient::Outcome::kReply);
    return reply;
  }

  EngineHost host;
  EchoHandler echo;
};

// A message frame on a channel nobody handles, `body` bytes long.
inline Bytes frameOfBody(uint32_t id, size_t body) {
  const std::string channel = "nobody";
  Bytes payload(body - 7 - channel.size(), 0);
  return halvix::flutter_engine::encodeMessageFrame(id, channel, payload.data(), payload.size());
}

inline bool droppedByHost(MessengerClient& client) { return !client.readFrame(kWait) && client.closed(); }

}  // namespace halvix::test
