#include <thread>

#include <gtest/gtest.h>

#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/support/hot_dev_app.h"

namespace halvix::test {
namespace {

using namespace std::chrono_literals;
using sdk::CorvelNative;
using sdk::PlateCallArgs;

// Packed calls are opaque to the host; this application understands a few
// plain commands so that each answering pattern can be exercised.
const char* const kBridgeApp = R"LUA(
local M = {}
function M.initLuaApp() end
function M.forwardPlateCall(cb, packed)
  if packed == 'twice' then cb('first') cb('second')
  elseif packed == 'never' then
  elseif packed == 'noarg' then cb()
  elseif packed == 'table' then cb({})
  elseif packed == 'raise' then error('app failure', 0)
  elseif packed == 'gc' then collectgarbage() collectgarbage() cb('collected')
  elseif packed:sub(1, 3) == 'mp:' then cb(packed:sub(4))
  else cb(packed) end
end
return M
)LUA";

class CallBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sdk::setHotDevMode(true);
    app_ = std::make_unique<HotDevApp>(kBridgeApp);
    native_ = std::make_unique<CorvelNative>(app_->directories());
    Collector init;
    native_->initSDK(recordResult(init), 10, "");
    ASSERT_TRUE(init.waitFor(1));
    ASSERT_EQ(init.items().front(), "true:");
  }
  void TearDown() override {
    native_.reset();
    sdk::setHotDevMode(false);
  }

  sdk::StringsCallback collectInto(Collector& c) {
    return [&c](const std::vector<std::string>& r) {
      ASSERT_EQ(r.size(), 1u);
      c.add(r.front());
    };
  }

  std::unique_ptr<HotDevApp> app_;
  std::unique_ptr<CorvelNative> native_;
};

TEST_F(CallBridgeTest, CallsWithNulBytesArriveWhole) {
  Collector answers;
  std::string packed("a\0b\0\0c", 6);
  native_->forwardPlateCall(collectInto(answers), packed);
  ASSERT_TRUE(answers.waitFor(1));
  EXPECT_EQ(answers.items().front(), packed);
}

TEST_F(CallBridgeTest, AnswersArriveOncePerInvocationInOrder) {
  Collector answers;
  native_->forwardPlateCall(collectInto(answers), "twice");
  native_->forwardPlateCall(collectInto(answers), "noarg");
  native_->forwardPlateCall(collectInto(answers), "plain");
  ASSERT_TRUE(answers.waitFor(4));
  EXPECT_EQ(answers.items(), (std::vector<std::string>{"first", "second", "", "plain"}));
}

TEST_F(CallBridgeTest, FailedCallsAreLoggedAndNeverAnswered) {
  Collector answers;
  testing::internal::CaptureStdout();
  native_->forwardPlateCall(collectInto(answers), "never");
  native_->forwardPlateCall(collectInto(answers), "raise");
  native_->forwardPlateCall(collectInto(answers), "table");
  native_->forwardPlateCall(collectInto(answers), "after");
  ASSERT_TRUE(answers.waitFor(1));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(answers.items(), std::vector<std::string>{"after"});
  EXPECT_NE(out.find("preload.forwardPlateCall() error:app failure\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Unsupport type table to convert to Java object"), std::string::npos) << out;
}

TEST_F(CallBridgeTest, MissingPreloadOrFunctionIsLoggedNotFatal) {
  app_->write("preload.lua", "return { initLuaApp = function() end }");
  Collector init;
  native_->initSDK(recordResult(init), 10, "");
  ASSERT_TRUE(init.waitFor(1));
  Collector answers;
  testing::internal::CaptureStdout();
  native_->forwardPlateCall(collectInto(answers), "x");
  std::this_thread::sleep_for(100ms);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("preload.forwardPlateCall() error: no such function\n"), std::string::npos) << out;

  app_->write("preload.lua", "error('preload does not load')");
  Collector broken;
  native_->initSDK(recordResult(broken), 10, "");
  ASSERT_TRUE(broken.waitFor(1));
  testing::internal::CaptureStdout();
  native_->forwardPlateCall(collectInto(answers), "x");
  std::this_thread::sleep_for(100ms);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("preload.forwardPlateCall() error:"), std::string::npos) << out;
  EXPECT_TRUE(answers.items().empty());
}

TEST_F(CallBridgeTest, NoActivationDestroysTheCompletionUncalled) {
  native_->unInitSDK();
  auto sentinel = std::make_shared<int>(0);
  std::weak_ptr<int> watch = sentinel;
  bool called = false;
  native_->forwardPlateCall([s = std::move(sentinel), &called](const std::vector<std::string>&) { called = true; },
                            std::string("x"));
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(called);
}

TEST_F(CallBridgeTest, NativeOverloadDecodesAnswers) {
  Collector seen;
  auto packArray = [](auto&&... values) {
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    packer.pack_array(sizeof...(values));
    (packer.pack(values), ...);
    return std::string(buffer.data(), buffer.size());
  };
  std::string answer = packArray(true, std::string("a"), 5);
  msgpack::sbuffer call;
  call.write("mp:", 3);
  call.write(answer.data(), answer.size());
  testing::internal::CaptureStdout();
  native_->forwardPlateCall(
      [&](PlateCallArgs& args) {
        std::string text;
        bool okText = args.get(0, text);
        seen.add(std::string(args.ok ? "ok " : "notok ") + std::to_string(args.args.size()) + " " + text +
                 (okText ? " got" : " none"));
      },
      call);
  msgpack::sbuffer empty;
  empty.write("noarg", 5);
  native_->forwardPlateCall([&](PlateCallArgs&) { seen.add("empty answer decoded"); }, empty);
  msgpack::sbuffer marker;
  marker.write("mp:\x91\xc2", 5);
  native_->forwardPlateCall([&](PlateCallArgs& args) { seen.add(args.ok ? "marker ok" : "marker notok"); }, marker);
  ASSERT_TRUE(seen.waitFor(2));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(seen.items(), (std::vector<std::string>{"ok 2 a got", "marker notok"}));
  EXPECT_NE(out.find("resultHandler=[true,\"a\",5],7\n"), std::string::npos) << out;
}

TEST_F(CallBridgeTest, PendingCallsAreReleasedOnceTheirCallbacksAreCollected) {
  Collector answers;
  for (int i = 0; i < 500; ++i) native_->forwardPlateCall(collectInto(answers), "x" + std::to_string(i));
  native_->forwardPlateCall(collectInto(answers), "gc");
  ASSERT_TRUE(answers.waitFor(501));
  std::this_thread::sleep_for(50ms);  // let the last task finish and drop its share
  // Only the call that ran the collection can still be referenced.
  EXPECT_LE(native_->livePendingCalls(), 2u);
  native_->unInitSDK();
  EXPECT_EQ(native_->livePendingCalls(), 0u);
}

TEST_F(CallBridgeTest, TeardownWithCallsInFlight) {
  auto counter = std::make_shared<std::atomic<int>>(0);
  for (int i = 0; i < 2000; ++i) {
    native_->forwardPlateCall([counter](const std::vector<std::string>&) { ++*counter; }, std::string(100, 'x'));
  }
  native_->unInitSDK();  // some calls ran, the rest are dropped; none runs later
  int answered = counter->load();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(counter->load(), answered);
  EXPECT_LE(answered, 2000);
  EXPECT_EQ(counter.use_count(), 1) << "a completion outlived the activation";
}

}  // namespace
}  // namespace halvix::test
