#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/flutter_engine/engine_fixture.h"

namespace {

using namespace halvix::test;

TEST_F(EngineTest, DeliversOnThePlatformThreadAndReplies) {
  MessengerClient client(host.socketPath());
  EXPECT_EQ(roundTrip(client, "echo", {1, 2, 3}), (Bytes{3, 2, 1}));
  EXPECT_EQ(roundTrip(client, "nobody", {1}), Bytes{});  // no handler: empty reply
  EXPECT_EQ(echo.calls, 1);
  EXPECT_FALSE(echo.offLoopThreadSeen);
}

TEST_F(EngineTest, RepliesFromOtherThreadsAreCarriedOverOnceEach) {
  echo.replyFromOtherThread = true;
  echo.replyTwice = true;
  MessengerClient client(host.socketPath());
  for (uint8_t i = 0; i < 20; ++i) EXPECT_EQ(roundTrip(client, "echo", {i, 0}), (Bytes{0, i}));
  // A second answer to the same handle must not produce a second reply frame.
  auto extra = client.readFrame(200ms);
  EXPECT_FALSE(extra);
  EXPECT_FALSE(client.closed());
}

TEST_F(EngineTest, RepliesFromOtherThreadsStayWholeBesideTheHostsOwnOutput) {
  // Short replies leave from the answering thread when nothing is queued.
  // The client reads nothing at first, so its socket fills: such a write
  // stops part-way and the I/O thread must send the rest before anything
  // else, longer replies and the host's messages among it.
  echo.replyFromOtherThread = true;
  MessengerClient client(host.socketPath());
  std::map<uint32_t, Bytes> expected;
  // More than the socket holds before any reply too long for that.
  const size_t sizes[] = {16, 60 * 1024, 3, 64 * 1024 - 9, 50 * 1024, 40 * 1024, 30 * 1024, 100 * 1024};
  for (size_t round = 0; round < 8; ++round)
    for (size_t size : sizes) {
      if (round < 2 && size > 64 * 1024) continue;
      const Bytes payload = patterned(size + round);
      expected[client.send("echo", payload)] = Bytes(payload.rbegin(), payload.rend());
    }
  const Bytes message = patterned(30000);
  constexpr int kMessages = 6;
  for (int i = 0; i < kMessages; ++i)
    host.onLoop([&] {
      api().FlutterDesktopMessengerSend(host.messenger(), "up", message.data(), message.size());
    });
  int messages = 0;
  while (!expected.empty() || messages < kMessages) {
    auto frame = client.readFrame(kWait);
    ASSERT_TRUE(frame) << expected.size() << " replies and " << kMessages - messages << " messages missing";
    if (frame->kind == halvix::flutter_engine::FrameKind::kMessage) {
      EXPECT_EQ(frame->channel, "up");
      EXPECT_TRUE(frame->payload == message) << "message " << messages;
      ++messages;
      continue;
    }
    auto it = expected.find(frame->id);
    ASSERT_NE(it, expected.end()) << "reply " << frame->id;
    EXPECT_TRUE(frame->payload == it->second) << "reply " << frame->id;
    expected.erase(it);
  }
  EXPECT_FALSE(client.readFrame(200ms));
}

TEST_F(EngineTest, SeveralClientsAreServedSideBySide) {
  MessengerClient a(host.socketPath());
  MessengerClient b(host.socketPath());
  uint32_t ia = a.send("echo", {1, 2});
  uint32_t ib = b.send("echo", {3, 4});
  Bytes ra, rb;
  EXPECT_EQ(b.waitReply(ib, kWait, &rb), MessengerClient::Outcome::kReply);
  EXPECT_EQ(a.waitReply(ia, kWait, &ra), MessengerClient::Outcome::kReply);
  EXPECT_EQ(ra, (Bytes{2, 1}));
  EXPECT_EQ(rb, (Bytes{4, 3}));
}

TEST_F(EngineTest, GarbageOrHalfFramesDropOnlyThatClient) {
  MessengerClient good(host.socketPath());
  const Bytes garbage[] = {
      {0, 0, 0, 0},                    // zero length
      {5, 0, 0, 0, 9, 0, 0, 0, 0},     // unknown kind
      {0xff, 0xff, 0xff, 0xff},        // over the size limit
      {7, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0},  // empty channel name
  };
  for (const auto& bytes : garbage) {
    MessengerClient bad(host.socketPath());
    bad.sendRaw(bytes.data(), bytes.size());
    EXPECT_FALSE(bad.readFrame(kWait));
    EXPECT_TRUE(bad.closed());
    EXPECT_EQ(roundTrip(good, "echo", {7, 8}), (Bytes{8, 7}));
  }
  {
    // Disconnects in the middle of a frame.
    MessengerClient half(host.socketPath());
    Bytes frame = halvix::flutter_engine::encodeMessageFrame(1, "echo", nullptr, 0);
    half.sendRaw(frame.data(), frame.size() - 2);
  }
  EXPECT_EQ(roundTrip(good, "echo", {5}), (Bytes{5}));
}

TEST_F(EngineTest, AnswersForAClientThatLeftAreDropped) {
  echo.replyFromOtherThread = true;
  {
    MessengerClient leaving(host.socketPath());
    leaving.send("echo", {1});
  }
  MessengerClient staying(host.socketPath());
  EXPECT_EQ(roundTrip(staying, "echo", {1, 2}), (Bytes{2, 1}));
}

struct ReplyLog {
  std::vector<Bytes> replies;
  std::vector<std::thread::id> threads;
  std::atomic<int> count{0};
  static void record(const uint8_t* data, size_t size, void* user) {
    auto* self = static_cast<ReplyLog*>(user);
    self->replies.emplace_back(data, data + size);
    self->threads.push_back(std::this_thread::get_id());
    ++self->count;
  }
};

TEST_F(EngineTest, HostToClientMessagesAndTheirReplies) {
  ReplyLog log;
  bool sent = true;
  host.onLoop([&] { sent = api().FlutterDesktopMessengerSendWithReply(host.messenger(), "up", nullptr, 0, ReplyLog::record, &log); });
  EXPECT_FALSE(sent);  // nobody connected

  MessengerClient client(host.socketPath());
  EXPECT_EQ(roundTrip(client, "echo", {1}), Bytes{1});  // the engine has surely accepted it now
  Bytes payload{4, 5};
  host.onLoop([&] {
    sent = api().FlutterDesktopMessengerSendWithReply(host.messenger(), "up", payload.data(), payload.size(),
                                                ReplyLog::record, &log);
  });
  ASSERT_TRUE(sent);
  auto frame = client.readFrame(kWait);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->channel, "up");
  EXPECT_EQ(frame->payload, payload);
  Bytes answer = halvix::flutter_engine::encodeReplyFrame(frame->id, payload.data(), 1);
  client.sendRaw(answer.data(), answer.size());
  for (int i = 0; i < 1000 && log.count == 0; ++i) std::this_thread::sleep_for(5ms);
  host.onLoop([] {});
  ASSERT_EQ(log.replies.size(), 1u);
  EXPECT_EQ(log.replies[0], Bytes{4});
  EXPECT_EQ(log.threads[0], host.loopThreadId());
}

TEST_F(EngineTest, ClientLeavingWithoutAnsweringGivesAnEmptyReply) {
  ReplyLog log;
  {
    MessengerClient client(host.socketPath());
    EXPECT_EQ(roundTrip(client, "echo", {1}), Bytes{1});
    host.onLoop([&] { api().FlutterDesktopMessengerSendWithReply(host.messenger(), "up", nullptr, 0, ReplyLog::record, &log); });
    ASSERT_TRUE(client.readFrame(kWait));
  }
  for (int i = 0; i < 1000 && log.count == 0; ++i) std::this_thread::sleep_for(5ms);
  host.onLoop([] {});
  ASSERT_EQ(log.replies.size(), 1u);
  EXPECT_TRUE(log.replies[0].empty());
}

void throwingHandler(FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {
  throw std::runtime_error("boom");
}

TEST_F(EngineTest, AThrowingHandlerLeavesTheLoopRunning) {
  host.onLoop([&] { api().FlutterDesktopMessengerSetCallback(host.messenger(), "throws", throwingHandler, nullptr); });
  MessengerClient client(host.socketPath());
  testing::internal::CaptureStderr();
  client.send("throws", {1});
  EXPECT_EQ(roundTrip(client, "echo", {1, 2}), (Bytes{2, 1}));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("the handler of channel throws raised: boom"),
            std::string::npos);
}

TEST_F(EngineTest, SendRefusesWhatTheFramingCannotCarry) {
  MessengerClient client(host.socketPath());
  EXPECT_EQ(roundTrip(client, "echo", {1}), Bytes{1});
  bool sent = true;
  std::string longName(70000, 'c');
  host.onLoop([&] { sent = api().FlutterDesktopMessengerSend(host.messenger(), longName.c_str(), nullptr, 0); });
  EXPECT_FALSE(sent);
  host.onLoop([&] { sent = api().FlutterDesktopMessengerSend(host.messenger(), "ok", nullptr, 0); });
  EXPECT_TRUE(sent);
}

TEST_F(EngineTest, IncompleteFramesAreBoundedInTime) {
  // On an engine whose timeout is lowered: a frame that stops short is
  // dropped, not before the timeout; one that keeps coming, and a client
  // that holds no partial frame, stay.
  OtherEngine quick(host);
  std::string path = (host.dir().path() / "quick.sock").string();
  quick.onLoop([&](FlutterDesktopEngineRef engine) {
    EXPECT_EQ(host.standIn().setFrameTimeout(engine, 0), EINVAL);
    EXPECT_EQ(host.standIn().setFrameTimeout(engine, 300), 0);
    EXPECT_EQ(host.standIn().listen(engine, path.c_str()), 0);
    EXPECT_EQ(host.standIn().setFrameTimeout(engine, 300), EBUSY);
  });
  Bytes small = frameOfBody(1, 64);
  MessengerClient idle(path);
  MessengerClient stalled(path);
  testing::internal::CaptureStderr();
  stalled.sendRaw(small.data(), 10);
  auto stalledAt = std::chrono::steady_clock::now();
  EXPECT_TRUE(droppedByHost(stalled));
  EXPECT_GE(std::chrono::steady_clock::now() - stalledAt, 300ms);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("made no progress for 300 ms"), std::string::npos);
  MessengerClient steady(path);
  for (size_t i = 0; i < small.size(); ++i) {
    ASSERT_TRUE(steady.sendRaw(&small[i], 1));
    if (i % 8 == 0) std::this_thread::sleep_for(50ms);  // 450 ms in all
  }
  EXPECT_EQ(steady.waitReply(1, kWait, nullptr), MessengerClient::Outcome::kReply);
  uint32_t id = idle.send("nobody", {1});
  EXPECT_EQ(idle.waitReply(id, kWait, nullptr), MessengerClient::Outcome::kReply);
}

int destroyedCount = 0;
void onRegistrarDestroyed(FlutterDesktopPluginRegistrarRef) { ++destroyedCount; }

TEST_F(EngineTest, DestroyRunsTheRegistrarHandlerAndRemovesTheSocket) {
  destroyedCount = 0;
  auto registrar = api().FlutterDesktopEngineGetPluginRegistrar(host.engine(), "any");
  EXPECT_EQ(api().FlutterDesktopPluginRegistrarGetMessenger(registrar), host.messenger());
  host.onLoop([&] { api().FlutterDesktopPluginRegistrarSetDestructionHandler(registrar, onRegistrarDestroyed); });
  MessengerClient client(host.socketPath());
  host.destroyEngine();
  EXPECT_EQ(destroyedCount, 1);
  EXPECT_FALSE(std::filesystem::exists(host.socketPath()));
  EXPECT_FALSE(client.readFrame(kWait));
  EXPECT_TRUE(client.closed());
}

TEST(EngineCreate, NeedsAWellFormedPlatformTaskRunner) {
  EngineHost host;
  const HalvixFlutterTaskRunner malformed[] = {
      {sizeof(HalvixFlutterTaskRunner), nullptr, nullptr},  // no post function
      {1, nullptr, [](void*, HalvixFlutterTask, void*) {}},  // size of some other struct
  };
  FlutterDesktopEngineProperties properties{};
  for (const auto& runner : malformed) {
    EXPECT_FALSE(host.standIn().setPlatformTaskRunner(&runner));
    // The host's runner stays in place.
    FlutterDesktopEngineRef engine = api().FlutterDesktopEngineCreate(&properties);
    EXPECT_NE(engine, nullptr);
    api().FlutterDesktopEngineDestroy(engine);
  }
  // Without one, the engine takes this thread's message loop (the host
  // tests drive it).
  EXPECT_TRUE(host.standIn().setPlatformTaskRunner(nullptr));
  FlutterDesktopEngineRef engine = api().FlutterDesktopEngineCreate(&properties);
  EXPECT_NE(engine, nullptr);
  api().FlutterDesktopEngineDestroy(engine);
}

}  // namespace
