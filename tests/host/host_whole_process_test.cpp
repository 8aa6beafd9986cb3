// The halvix executable at work on every system: it serves the Dart side,
// runs the application, forwards the colour through it and ends cleanly when
// its window is closed.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/host_process.h"
#include "tests/support/hot_dev_app.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using halvix::test::HostProcess;
using halvix::test::ProcessOutcome;
using halvix::test::recordingApp;
using halvix::test::TempDir;
using testing::HasSubstr;

const fs::path kBin = HALVIX_BIN_DIR;

fs::path program(const std::string& name) { return kBin / (name + HALVIX_EXE_SUFFIX); }

TEST(HostProcess, ServesTheDartSideAndEndsCleanlyWhenClosedWithAnActivationRunning) {
  TempDir app;
  TempDir scratch;
  const fs::path log = app.path() / "calls.log";
  halvix::test::writeHotDevTree(app, recordingApp(log));
  const std::string socket = (app.path() / "m.sock").string();
  HostProcess host(program("halvix").string(), {"--socket", socket, "--drive-root", app.path().string()},
                   app.path());
  ASSERT_TRUE(host.waitForSocket(socket));

  auto ctl = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--socket", socket});
    return halvix::test::textLines(halvix::test::runToEnd(program("halvixctl").string(), args, scratch.path()).out);
  };
  const char* sdk = "com.brisktide.corvel.methodchannel";
  EXPECT_EQ(ctl({sdk, "initSDK", R"({"sdkEnv":{"VAR_IS_HOTDEV":true},"logLevel":60})"}), "[true,\"\"]\n");
  EXPECT_EQ(ctl({sdk, "startLooper"}), "[true,\"\"]\n");
  // A call forwarded by the Dart side: [id, method, lamp] packed.
  EXPECT_EQ(ctl({sdk, "forwardPlateCall", R"("hex:9301a470696e67a144")"}), "\"hex:91c3\"\n");
  EXPECT_EQ(ctl({"com.brisktide.com/razerkit", "enableChromaConnect", R"({"uuid":"A","enable":true})"}), "null\n");

  // The colour timer forwards the colour to the enabled lamp.
  for (int i = 0; i < 400 && halvix::test::readWholeFile(log).find("setColorWithoutResponse") == std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string calls = halvix::test::readWholeFile(log);
  EXPECT_THAT(calls, HasSubstr("\xa4ping\xa1" "D"));
  EXPECT_THAT(calls, HasSubstr("setColorWithoutResponse\xa1" "A"));

  ProcessOutcome end = host.close();
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.err, "");
  EXPECT_FALSE(fs::exists(socket));
}

// An engine that exports only the functions every engine has, with the
// executable in a folder of its own beside it.
TEST(HostProcess, RunsAnEngineWithoutTheMessengersReferenceFunctions) {
  TempDir app;
  TempDir scratch;
  TempDir folder;
#ifdef _WIN32
  const char* engine = "libhalvix_flutter_engine_without_references.dll";
#else
  const char* engine = "libhalvix_flutter_engine_without_references.so";
  fs::copy_file(kBin / "libhalvix_user32.so", folder.path() / "libhalvix_user32.so");
#endif
  fs::copy_file(program("halvix"), folder.path() / program("halvix").filename());
  fs::copy_file(kBin / engine, folder.path() / "support.dat");
  halvix::test::writeHotDevTree(app, recordingApp(app.path() / "calls.log"));
  const std::string socket = (app.path() / "m.sock").string();
  HostProcess host((folder.path() / program("halvix").filename()).string(),
                   {"--socket", socket, "--drive-root", app.path().string()}, app.path());
  ASSERT_TRUE(host.waitForSocket(socket));

  auto ctl = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--socket", socket});
    return halvix::test::textLines(halvix::test::runToEnd(program("halvixctl").string(), args, scratch.path()).out);
  };
  // Both answers come from the SDK's worker thread.
  const char* sdk = "com.brisktide.corvel.methodchannel";
  EXPECT_EQ(ctl({sdk, "initSDK", R"({"sdkEnv":{"VAR_IS_HOTDEV":true}})"}), "[true,\"\"]\n");
  EXPECT_EQ(ctl({sdk, "forwardPlateCall", R"("hex:9301a470696e67a144")"}), "\"hex:91c3\"\n");

  ProcessOutcome end = host.close();
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.err, "");
}

// A call stuck in C code cannot be interrupted: the host gives the worker a
// bounded time and leaves without it.
TEST(HostProcess, AnApplicationStuckInACallDoesNotKeepTheProcessAlive) {
  TempDir app;
  TempDir scratch;
  halvix::test::writeHotDevTree(app,
                                "local ffi = require('ffi')\n"
                                "local stuck\n"
                                "if ffi.os == 'Windows' then\n"
                                "  ffi.cdef[[ void Sleep(unsigned long milliseconds); ]]\n"
                                "  stuck = function() ffi.C.Sleep(60000) end\n"
                                "else\n"
                                "  ffi.cdef[[ int poll(void *fds, unsigned long n, int timeout); ]]\n"
                                "  stuck = function() ffi.C.poll(nil, 0, 60000) end\n"
                                "end\n"
                                "local M = {}\n"
                                "function M.initLuaApp() end\n"
                                "function M.onTick() end\n"
                                "function M.forwardPlateCall(cb, packed) stuck() end\n"
                                "return M\n");
  const std::string socket = (app.path() / "m.sock").string();
  HostProcess host(program("halvix").string(), {"--socket", socket, "--drive-root", app.path().string()},
                   app.path());
  ASSERT_TRUE(host.waitForSocket(socket));
  const std::string ctl = program("halvixctl").string();
  const char* sdk = "com.brisktide.corvel.methodchannel";
  EXPECT_EQ(halvix::test::textLines(halvix::test::runToEnd(
                                        ctl, {"--socket", socket, sdk, "initSDK", R"({"sdkEnv":{"VAR_IS_HOTDEV":true}})"},
                                        scratch.path())
                                        .out),
            "[true,\"\"]\n");
  EXPECT_EQ(halvix::test::runToEnd(ctl, {"--socket", socket, "--timeout", "0.5", sdk, "forwardPlateCall", "\"hex:90\""},
                                   scratch.path())
                .exitCode,
            4);
  const auto start = std::chrono::steady_clock::now();
  ProcessOutcome end = host.close();
  EXPECT_EQ(end.exitCode, 0) << end.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
