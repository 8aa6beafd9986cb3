#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter_engine/messenger_client.h"
#include "tests/support/engine_host.h"

namespace {

using halvix::flutter_engine::MessengerClient;
using halvix::test::EngineHost;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr auto kWait = 10s;

const flutter::FlutterDesktopApi& api() { return EngineHost::api(); }

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

TEST_F(EngineTest, DeliversOnThePlatformThreadAndReplies) {
  MessengerClient client(host.socketPath());
  EXPECT_EQ(roundTrip(client, "echo", {1, 2, 3}), (Bytes{3, 2, 1}));
  EXPECT_EQ(roundTrip(client, "nobody", {1}), Bytes{});  // no handler: empty reply
  EXPECT_EQ(echo.calls, 1);
  EXPECT_FALSE(echo.offLoopThreadSeen);
}

TEST_F(EngineTest, SocketIsPrivateToItsUser) {
  struct stat st {};
  ASSERT_EQ(::stat(host.socketPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
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

// A message frame on a channel nobody handles, `body` bytes long.
Bytes frameOfBody(uint32_t id, size_t body) {
  const std::string channel = "nobody";
  Bytes payload(body - 7 - channel.size(), 0);
  return halvix::flutter_engine::encodeMessageFrame(id, channel, payload.data(), payload.size());
}

bool droppedByHost(MessengerClient& client) { return !client.readFrame(kWait) && client.closed(); }

TEST_F(EngineTest, IncompleteFramesAreBoundedAcrossClientsAndInTime) {
  using halvix::flutter_engine::kMaxFrameBody;
  // Two clients may each hold all but the last byte of a largest frame; a
  // third that adds to them is dropped. What a client held is given back
  // when its frame completes or it goes.
  Bytes largest = frameOfBody(1, kMaxFrameBody);
  auto holdAllButOne = [&](MessengerClient& client) {
    ASSERT_TRUE(client.sendRaw(largest.data(), largest.size() - 1));
    ASSERT_TRUE(client.waitUntilRead(kWait));
  };
  MessengerClient first(host.socketPath());
  std::optional<MessengerClient> second(host.socketPath());
  holdAllButOne(first);
  holdAllButOne(*second);
  {
    MessengerClient third(host.socketPath());
    testing::internal::CaptureStderr();
    third.sendRaw(largest.data(), 1 << 20);
    EXPECT_TRUE(droppedByHost(third));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("incomplete frames would hold more than"), std::string::npos);
  }
  ASSERT_TRUE(first.sendRaw(&largest.back(), 1));
  EXPECT_EQ(first.waitReply(1, kWait, nullptr), MessengerClient::Outcome::kReply);
  second.reset();
  MessengerClient fourth(host.socketPath());
  MessengerClient fifth(host.socketPath());
  holdAllButOne(fourth);
  holdAllButOne(fifth);
  ASSERT_TRUE(fifth.sendRaw(&largest.back(), 1));
  EXPECT_EQ(fifth.waitReply(1, kWait, nullptr), MessengerClient::Outcome::kReply);
  largest = {};

  // On an engine whose timeout is lowered: a frame that stops short is
  // dropped, not before the timeout; one that keeps coming, and a client
  // that holds no partial frame, stay.
  FlutterDesktopEngineRef quick = nullptr;
  std::string path = (host.dir().path() / "quick.sock").string();
  host.onLoop([&] {
    FlutterDesktopEngineProperties properties{};
    quick = api().FlutterDesktopEngineCreate(&properties);
    EXPECT_EQ(host.standIn().setFrameTimeout(quick, 0), EINVAL);
    EXPECT_EQ(host.standIn().setFrameTimeout(quick, 300), 0);
    EXPECT_EQ(host.standIn().listen(quick, path.c_str()), 0);
    EXPECT_EQ(host.standIn().setFrameTimeout(quick, 300), EBUSY);
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
  host.onLoop([&] { api().FlutterDesktopEngineDestroy(quick); });
}

// Process CPU time: what a thread spinning on accept would burn.
std::chrono::nanoseconds cpuTime() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

TEST_F(EngineTest, RunningOutOfDescriptorsPausesAcceptingUntilTheyComeBack) {
  MessengerClient before(host.socketPath());
  EXPECT_EQ(roundTrip(before, "echo", {1}), Bytes{1});

  testing::internal::CaptureStderr();
  // Every descriptor but one is taken; the client takes that one, so the
  // engine cannot accept it.
  int base = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(base, 0);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(base) + 32;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fillers;
  for (int fd; (fd = ::dup(base)) >= 0;) fillers.push_back(fd);
  ASSERT_EQ(errno, EMFILE);
  ASSERT_FALSE(fillers.empty());
  ::close(fillers.back());
  fillers.pop_back();
  std::optional<MessengerClient> waiting;
  waiting.emplace(host.socketPath());
  uint32_t id = waiting->send("echo", {4, 2});

  auto cpuBefore = cpuTime();
  auto wallBefore = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1s);
  auto cpu = cpuTime() - cpuBefore;
  auto wall = std::chrono::steady_clock::now() - wallBefore;
  EXPECT_LT(cpu, wall / 4) << "accepting spins while descriptors are short";

  for (int fd : fillers) ::close(fd);
  ::close(base);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  Bytes reply;
  EXPECT_EQ(waiting->waitReply(id, kWait, &reply), MessengerClient::Outcome::kReply);
  EXPECT_EQ(reply, (Bytes{2, 4}));
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("cannot accept a client"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("cannot accept a client"), errors.rfind("cannot accept a client")) << "one line per run of failures";
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
  EXPECT_NE(::access(host.socketPath().c_str(), F_OK), 0);
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
