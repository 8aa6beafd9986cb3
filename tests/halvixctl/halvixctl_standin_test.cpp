// halvixctl against the engine stand-in alone: its exit codes and output for
// each kind of answer, on every system the stand-in runs on.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter/standard_codec.h"
#include "tests/support/engine_host.h"
#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"

namespace {

using flutter::EncodableValue;
using halvix::test::EngineHost;
using halvix::test::ProcessOutcome;

const std::string kHalvixctl = std::string(HALVIX_BIN_DIR) + "/halvixctl";
constexpr const char* kChannel = "ctl.test";

// "echo" answers with its arguments, "fail" with an error, "silent" never;
// "odd" and "oddFail" answer with bytes that are not UTF-8 in a string, map
// keys and an error code; anything else is not implemented.
void answer(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message, void*) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  auto call = codec.DecodeMethodCall(message->message, message->message_size);
  std::unique_ptr<std::vector<uint8_t>> reply;
  if (call && call->method_name() == "silent") return;
  if (call && call->method_name() == "echo") reply = codec.EncodeSuccessEnvelope(call->arguments());
  if (call && call->method_name() == "fail") reply = codec.EncodeErrorEnvelope("Bad", "no good");
  if (call && call->method_name() == "odd") {
    const EncodableValue odd(flutter::EncodableMap{
        {EncodableValue("k\xff"), EncodableValue("v\xc3")},
        {EncodableValue(flutter::EncodableList{EncodableValue("\xfe")}), EncodableValue(int32_t{1})}});
    reply = codec.EncodeSuccessEnvelope(&odd);
  }
  if (call && call->method_name() == "oddFail") reply = codec.EncodeErrorEnvelope("B\xe9" "d", "\xed\xa0\x80");
  std::vector<uint8_t> bytes = reply ? *reply : std::vector<uint8_t>();
  EngineHost::api().FlutterDesktopMessengerSendResponse(messenger, message->response_handle, bytes.data(),
                                                        bytes.size());
}

TEST(HalvixctlAgainstTheStandIn, ExitCodesAndOutputFollowTheAnswer) {
  EngineHost host;
  ASSERT_EQ(host.listenError(), 0);
  EngineHost::api().FlutterDesktopMessengerSetCallback(host.messenger(), kChannel, answer, nullptr);
  host.start();
  halvix::test::TempDir logs;
  const std::string unreachable = (logs.path() / "none.sock").string();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{kChannel, "echo", R"({"a":[1,"x",2.5,"hex:0a0b"]})"}, 0, "{\"a\":[1,\"x\",2.5,\"hex:0a0b\"]}\n", ""},
      {{kChannel, "fail"}, 2, "{\"code\":\"Bad\",\"details\":null,\"message\":\"no good\"}\n", ""},
      {{kChannel, "other"}, 3, "", "not implemented"},
      {{"--timeout", "0.3", kChannel, "silent"}, 4, "", "no reply within 0.3 s"},
      // Bytes that are not UTF-8 print as \udcXX escapes, one a byte.
      {{kChannel, "odd"}, 0, R"({"[\"\\udcfe\"]":1,"k\udcff":"v\udcc3"})" "\n", ""},
      {{kChannel, "oddFail"}, 2, R"({"code":"B\udce9d","details":null,"message":"\udced\udca0\udc80"})" "\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> args{"--socket", host.socketPath()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessOutcome run = halvix::test::runToEnd(kHalvixctl, args, logs.path());
    run.out = halvix::test::textLines(run.out);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  ProcessOutcome run = halvix::test::runToEnd(kHalvixctl, {"--socket", unreachable, kChannel, "x"}, logs.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("connect"), std::string::npos) << run.err;
}

// A folder whose name the ANSI code page cannot spell.
TEST(HalvixctlAgainstTheStandIn, ReachesASocketInAFolderWithACyrillicName) {
  EngineHost host;
  ASSERT_EQ(host.listenError(), 0);
  EngineHost::api().FlutterDesktopMessengerSetCallback(host.messenger(), kChannel, answer, nullptr);
  host.start();
  halvix::test::TempDir logs;
  const std::filesystem::path folder = logs.path() / std::filesystem::path(u8"\u0416\u0451\u043b\u0442\u044b\u0439");
  std::filesystem::create_directory(folder);
  const std::filesystem::path socket = folder / "messenger.sock";
#ifdef _WIN32
  // The port file is all a client reads there.
  std::filesystem::copy_file(host.socketPath(), socket);
#else
  std::filesystem::create_symlink(host.socketPath(), socket);
#endif
  const std::string socketUtf8(reinterpret_cast<const char*>(socket.u8string().c_str()));
  ProcessOutcome run = halvix::test::runToEnd(kHalvixctl, {"--socket", socketUtf8, kChannel, "echo", "7"}, logs.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(halvix::test::textLines(run.out), "7\n");
}

}  // namespace
