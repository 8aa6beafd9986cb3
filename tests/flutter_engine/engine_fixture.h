#pragma once
// The engine stand-in with an echo handler on a platform thread of its own:
// the host half of the engine's messenger tests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "standins/flutter_engine/messenger_client.h"
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
  // A replier's answer can reach the client before emplace_back returns on
  // the platform thread, so the list is shared with the test's thread.
  std::mutex repliersMutex;
  std::vector<std::thread> repliers;

  ~EchoHandler() {
    std::lock_guard lock(repliersMutex);
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
    if (self->replyFromOtherThread) {
      std::lock_guard lock(self->repliersMutex);
      self->repliers.emplace_back(send);
    } else
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

// An engine of a test's own on the host's platform thread, beside the
// host's: made at first use, destroyed by destroy() or with this object.
class OtherEngine {
 public:
  explicit OtherEngine(EngineHost& host) : host_(host) {}
  ~OtherEngine() { destroy(); }
  OtherEngine(const OtherEngine&) = delete;
  OtherEngine& operator=(const OtherEngine&) = delete;

  // Runs `work` on the platform thread with the engine.
  void onLoop(const std::function<void(FlutterDesktopEngineRef)>& work) {
    host_.onLoop([&] {
      if (!engine_) {
        FlutterDesktopEngineProperties properties{};
        engine_ = api().FlutterDesktopEngineCreate(&properties);
      }
      work(engine_);
    });
  }
  // The stand-in's listen on the engine: 0 or an error number.
  int listen(const std::string& path) {
    int error = -1;
    onLoop([&](FlutterDesktopEngineRef engine) { error = host_.standIn().listen(engine, path.c_str()); });
    return error;
  }
  void destroy() {
    if (engine_) host_.onLoop([&] { api().FlutterDesktopEngineDestroy(std::exchange(engine_, nullptr)); });
  }

 private:
  EngineHost& host_;
  FlutterDesktopEngineRef engine_ = nullptr;
};

// Whether an engine listening at `path` answers a message.
inline bool answers(const std::string& path) {
  MessengerClient client(path);
  const uint32_t id = client.send("nobody", {1});
  return client.waitReply(id, kWait, nullptr) == MessengerClient::Outcome::kReply;
}

// Bytes that show where a piece went missing or moved.
inline Bytes patterned(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  return bytes;
}

// A message frame on a channel nobody handles, `body` bytes long.
inline Bytes frameOfBody(uint32_t id, size_t body) {
  const std::string channel = "nobody";
  Bytes payload(body - 7 - channel.size(), 0);
  return halvix::flutter_engine::encodeMessageFrame(id, channel, payload.data(), payload.size());
}

inline bool droppedByHost(MessengerClient& client) { return !client.readFrame(kWait) && client.closed(); }

}  // namespace halvix::test
