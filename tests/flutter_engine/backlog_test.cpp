// What clients can make the engine hold. One that sends without reading its
// replies is held back, not dropped, and answered in full once it reads; one
// that never reads is dropped after the drain timeout, and the memory comes
// back; other clients are answered all along. Growth is the resident size
// of this process, which hosts the engine and its clients alike.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "standins/flutter_engine/messenger_server.h"
#include "tests/flutter_engine/engine_fixture.h"
#include "tests/support/process_stats.h"

namespace {

using namespace halvix::test;
using halvix::flutter_engine::MessengerLimits;

constexpr size_t kMiB = size_t{1} << 20;
constexpr uint32_t kNoLimits = 0;

// Sanitizers map shadow memory beside all the program touches and keep what
// it frees in allocators of their own: resident size tells nothing there, and
// the release tree checks it. A heap that checks frees holds the latest
// thousand or so freed blocks back, filled: with calls of a few hundred KiB
// that alone is a hundred MiB resident, and it stays, whatever the engine
// gives back.
bool measuresMemory() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return false;
#else
  static const bool measures = [] {
    if (!heapChecksFrees()) return true;
    std::printf("Resident size is not checked: the heap checks frees and holds freed blocks back.\n");
    return false;
  }();
  return measures;
#endif
}

// The highest resident size seen while it lives, above the size when it
// was made.
class ResidentGrowth {
 public:
  ResidentGrowth() : base_(residentKiB()), peak_(base_) {
    sampler_ = std::thread([this] {
      while (!stop_) {
        sample();
        std::this_thread::sleep_for(2ms);
      }
    });
  }
  ~ResidentGrowth() {
    stop_ = true;
    sampler_.join();
  }
  long peakMiB() {
    sample();
    return (peak_ - base_) / 1024;
  }
  long nowMiB() const { return (residentKiB() - base_) / 1024; }

 private:
  void sample() {
    long now = residentKiB();
    for (long seen = peak_; now > seen && !peak_.compare_exchange_weak(seen, now);) {
    }
  }

  long base_;
  std::atomic<long> peak_;
  std::atomic<bool> stop_{false};
  std::thread sampler_;
};

// An engine of the test's own beside the fixture's, with the echo handler
// and, unless drainMs is kNoLimits, the given limits.
class EchoEngine {
 public:
  EchoEngine(EngineHost& host, EchoHandler& echo, const std::string& name, size_t clientBytes, size_t totalBytes,
             uint32_t drainMs)
      : engine_(host), path_((host.dir().path() / name).string()) {
    engine_.onLoop([&](FlutterDesktopEngineRef engine) {
      if (drainMs != kNoLimits) {
        EXPECT_EQ(host.standIn().setBacklogLimits(engine, clientBytes, totalBytes, drainMs), 0);
      }
      api().FlutterDesktopMessengerSetCallback(api().FlutterDesktopEngineGetMessenger(engine), "echo",
                                               EchoHandler::callback, &echo);
      EXPECT_EQ(host.standIn().listen(engine, path_.c_str()), 0);
    });
  }
  const std::string& path() const { return path_; }

 private:
  OtherEngine engine_;
  std::string path_;
};

// Sends `calls` echo calls with ids 1, 2, ... from a thread of its own and
// reads nothing, until done or until the engine closes the connection. The
// payload is shared, so that the senders add next to nothing to what is
// measured.
class Pipeliner {
 public:
  Pipeliner(const std::string& path, const Bytes& payload, uint32_t calls)
      : client_(path), thread_([this, &payload, calls] { run(payload, calls); }) {}
  ~Pipeliner() { thread_.join(); }

  MessengerClient& client() { return client_; }
  uint32_t sent() const { return sent_; }
  // When the last call went out or the engine let the client go.
  std::optional<std::chrono::steady_clock::time_point> finishedAt() const {
    if (!finished_) return std::nullopt;
    return finishedAt_;
  }
  // Waits until the engine takes nothing more from it for a while: it is
  // held back, or done.
  void waitUntilStill() const {
    auto deadline = std::chrono::steady_clock::now() + kWait;
    for (uint32_t last = sent_ + 1; last != sent_ && std::chrono::steady_clock::now() < deadline;) {
      last = sent_;
      std::this_thread::sleep_for(500ms);
    }
  }

 private:
  void run(const Bytes& payload, uint32_t calls) {
    for (uint32_t id = 1; id <= calls; ++id) {
      Bytes head = halvix::flutter_engine::encodeMessageFrame(id, "echo", nullptr, 0);
      uint32_t length = static_cast<uint32_t>(head.size() - 4 + payload.size());
      for (int i = 0; i < 4; ++i) head[i] = static_cast<uint8_t>(length >> (8 * i));
      if (!client_.sendRaw(head.data(), head.size()) || !client_.sendRaw(payload.data(), payload.size())) break;
      ++sent_;
    }
    finishedAt_ = std::chrono::steady_clock::now();
    finished_ = true;
  }

  MessengerClient client_;
  std::atomic<uint32_t> sent_{0};
  std::chrono::steady_clock::time_point finishedAt_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// Waits a while for the growth to fall below `mib`; the growth then.
long growthAfterSettling(const ResidentGrowth& growth, long mib) {
  auto deadline = std::chrono::steady_clock::now() + kWait;
  while (growth.nowMiB() >= mib && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  return growth.nowMiB();
}

TEST_F(EngineTest, ClientsSendingWithoutReadingAreHeldBackThenAnsweredInOrder) {
  struct Case {
    const char* name;
    size_t clientBytes;  // with totalBytes; unused for the engine's defaults
    size_t totalBytes;
    uint32_t drainMs;
    size_t payload;
    uint32_t calls;
    long growthBoundMiB;
  };
  const Case cases[] = {
      // More than the bound all told, unless memory is not measured.
      {"the engine's defaults", 0, 0, kNoLimits, 8 * kMiB, measuresMemory() ? 40u : 8u, 256},
      {"small budgets", 1 * kMiB, 4 * kMiB, 60000, kMiB / 4, 512, 48},
      {"calls larger than the client's budget", 1 * kMiB, 4 * kMiB, 60000, 3 * kMiB, 24, 48},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes payload = patterned(c.payload);
    const Bytes reversed(payload.rbegin(), payload.rend());
    // Goes after the engine, whose end lets a sender blocked on it go.
    std::optional<Pipeliner> pipeliner;
    EchoEngine engine(host, echo, "held.sock", c.clientBytes, c.totalBytes, c.drainMs);
    ResidentGrowth growth;
    pipeliner.emplace(engine.path(), payload, c.calls);
    pipeliner->waitUntilStill();
    EXPECT_LT(pipeliner->sent(), c.calls) << "the engine took every call while the client read nothing";
    if (measuresMemory()) {
      EXPECT_LT(growth.peakMiB(), c.growthBoundMiB);
    }
    for (uint32_t id = 1; id <= c.calls; ++id) {
      auto frame = pipeliner->client().readFrame(kWait);
      ASSERT_TRUE(frame) << "no reply to call " << id;
      ASSERT_EQ(frame->id, id);
      ASSERT_TRUE(frame->payload == reversed) << "call " << id;
    }
    pipeliner.reset();
    if (!measuresMemory()) continue;
    EXPECT_LT(growth.peakMiB(), c.growthBoundMiB);
    EXPECT_LT(growthAfterSettling(growth, 32), 32) << "what the client made the engine take stayed after it left";
  }
}

TEST_F(EngineTest, AClientHeldBackIsLetInAsItsRepliesLeaveFromTheAnsweringThread) {
  // Replies short enough to leave from the answering thread, to a client
  // that reads them as they come but sends faster than a budget of a few
  // calls lets in: the room it waits for comes back only through answers
  // written that way.
  const Bytes payload = patterned(16 * 1024);
  const Bytes reversed(payload.rbegin(), payload.rend());
  constexpr uint32_t kCalls = 400;
  EchoEngine engine(host, echo, "parked.sock", 64 * 1024, 256 * 1024, 60000);
  Pipeliner pipeliner(engine.path(), payload, kCalls);
  for (uint32_t id = 1; id <= kCalls; ++id) {
    auto frame = pipeliner.client().readFrame(kWait);
    ASSERT_TRUE(frame) << "no reply to call " << id << "; " << pipeliner.sent() << " sent";
    ASSERT_EQ(frame->id, id);
    ASSERT_TRUE(frame->payload == reversed) << "call " << id;
  }
}

TEST_F(EngineTest, ClientsThatNeverReadAreDroppedWhileOthersAreAnswered) {
  constexpr auto kDrain = 3s;
  const Bytes payload = patterned(8 * kMiB);
  // Go after the engine, whose end lets a sender blocked on it go.
  std::vector<std::unique_ptr<Pipeliner>> silent;
  // The engine's own budgets, with a drain timeout the test can wait for.
  const MessengerLimits defaults;
  EchoEngine engine(host, echo, "never.sock", defaults.clientBacklog, defaults.totalBacklog,
                    static_cast<uint32_t>(std::chrono::milliseconds(kDrain).count()));
  MessengerClient reader(engine.path());
  EXPECT_EQ(roundTrip(reader, "echo", {1, 2}), (Bytes{2, 1}));
  ResidentGrowth growth;
  testing::internal::CaptureStderr();
  {
    for (int i = 0; i < 12; ++i) silent.push_back(std::make_unique<Pipeliner>(engine.path(), payload, 1000));
    const auto start = std::chrono::steady_clock::now();
    auto firstDropped = [&]() -> std::optional<std::chrono::steady_clock::time_point> {
      std::optional<std::chrono::steady_clock::time_point> first;
      for (auto& p : silent)
        if (auto at = p->finishedAt(); at && (!first || *at < *first)) first = at;
      return first;
    };
    auto allDropped = [&] {
      for (auto& p : silent)
        if (!p->finishedAt()) return false;
      return true;
    };
    // The other client is answered all along, also while the silent ones
    // hold all they may, before any of them is dropped.
    std::vector<std::chrono::steady_clock::time_point> answered;
    for (uint8_t i = 0; !allDropped(); ++i) {
      ASSERT_LT(std::chrono::steady_clock::now() - start, 60s) << "clients that never read were kept";
      EXPECT_EQ(roundTrip(reader, "echo", {i, 7}), (Bytes{7, i}));
      answered.push_back(std::chrono::steady_clock::now());
      std::this_thread::sleep_for(20ms);
    }
    auto first = *firstDropped();
    EXPECT_GE(first - start, kDrain) << "dropped before the drain timeout";
    EXPECT_TRUE(std::any_of(answered.begin(), answered.end(),
                            [&](auto at) { return at > start + kDrain / 2 && at < first; }))
        << "no answer while the silent clients held their share";
    for (auto& p : silent) EXPECT_LT(p->sent(), 1000u);
    if (measuresMemory()) {
      EXPECT_LT(growth.peakMiB(), 256);
    }
    silent.clear();
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find("read nothing of its replies for 3000 ms"), std::string::npos);
  if (measuresMemory()) {
    EXPECT_LT(growthAfterSettling(growth, 32), 32) << "what the dropped clients held stayed";
  }
  EXPECT_EQ(roundTrip(reader, "echo", {4, 5}), (Bytes{5, 4}));
}

TEST_F(EngineTest, AFrameWaitsForRoomRatherThanCostItsClient) {
  // Frames of the largest size from two clients: while the first is in,
  // the second waits at its length prefix, for the engine will not hold both;
  // neither client is dropped, and each is answered in turn.
  const Bytes largest = frameOfBody(1, halvix::flutter_engine::kMaxFrameBody);
  MessengerClient first(host.socketPath());
  // Done once the socket has taken all but what it buffers: the engine has
  // let the frame in.
  ASSERT_TRUE(first.sendRaw(largest.data(), largest.size() - 1));
  MessengerClient second(host.socketPath());
  std::atomic<bool> secondSent{false};
  std::thread sender([&] {
    secondSent = second.sendRaw(largest.data(), largest.size());
  });
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(secondSent) << "both frames were taken in at once";
  EXPECT_TRUE(first.sendRaw(&largest.back(), 1));
  EXPECT_EQ(first.waitReply(1, kWait, nullptr), MessengerClient::Outcome::kReply);
  // Without room for it, the second frame would wait for good: the engine's
  // end lets its sender go.
  if (HasFailure()) host.destroyEngine();
  sender.join();
  EXPECT_TRUE(secondSent);
  EXPECT_EQ(second.waitReply(1, kWait, nullptr), MessengerClient::Outcome::kReply);
}

}  // namespace
