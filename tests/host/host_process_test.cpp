// The halvix executable as a whole: where it finds the engine, how it serves
// the Dart side and how it ends.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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
using halvix::test::TempDir;
using testing::HasSubstr;

const fs::path kBin = HALVIX_BIN_DIR;

enum class Source { kEngine, kGarbage, kNotTheEngine };

void place(Source source, const fs::path& target) {
  switch (source) {
    case Source::kEngine:
      fs::copy_file(kBin / "support.dat", target);
      break;
    case Source::kGarbage:
      std::ofstream(target) << "not a library";
      break;
    case Source::kNotTheEngine:
      fs::copy_file(kBin / "libhalvix_user32.so", target);
      break;
  }
}

TEST(HostProcess, FindsTheEngineAsShippedElseByTheOrdinarySearch) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, Source>> beside;
    // Puts the executable in a folder whose path does not fit 260 characters.
    bool deep;
    // Empty when the host must start.
    std::vector<std::string> failure;
  };
  const Case cases[] = {
      {"shipped file", {{"support.dat", Source::kEngine}}, false, {}},
      {"shipped file wins", {{"support.dat", Source::kEngine}, {"flutter_windows.dll", Source::kGarbage}}, false, {}},
      {"search only", {{"flutter_windows.dll", Source::kEngine}}, false, {}},
      {"path too long", {{"support.dat", Source::kGarbage}, {"flutter_windows.dll", Source::kEngine}}, true, {}},
      {"neither", {}, false, {"support.dat", "flutter_windows.dll"}},
      {"a function missing", {{"support.dat", Source::kNotTheEngine}}, false,
       {"lacks FlutterDesktopEngineCreate", "support.dat"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    fs::path folder = dir.path();
    if (c.deep) folder /= std::string(120, 'd') + "/" + std::string(120, 'e');
    fs::create_directories(folder);
    fs::copy_file(kBin / "halvix", folder / "halvix");
    fs::copy_file(kBin / "libhalvix_user32.so", folder / "libhalvix_user32.so");
    for (const auto& [name, source] : c.beside) place(source, folder / name);
    const std::string socket = (dir.path() / "m.sock").string();

    HostProcess host((folder / "halvix").string(), {"--socket", socket}, dir.path());
    if (c.failure.empty()) {
      EXPECT_TRUE(host.waitForSocket(socket));
      ProcessOutcome end = host.finish(SIGTERM);
      EXPECT_EQ(end.exitCode, 0) << end.err;
      EXPECT_EQ(end.err, "");
    } else {
      ProcessOutcome end = host.finish(0);
      EXPECT_EQ(end.exitCode, 2);
      for (const std::string& part : c.failure) EXPECT_THAT(end.err, HasSubstr(part));
    }
  }
}

}  // namespace

// A call stuck in C code cannot be interrupted: the host gives the worker a
// bounded time and leaves without it.
TEST(HostProcess, AnApplicationStuckInACallDoesNotKeepTheProcessAlive) {
  TempDir app;
  TempDir scratch;
  halvix::test::writeHotDevTree(app,
                                "local M = {}\n"
                                "function M.initLuaApp() end\n"
                                "function M.onTick() end\n"
                                "function M.forwardPlateCall(cb, packed) require('socket').sleep(60) end\n"
                                "return M\n");
  const std::string socket = (app.path() / "m.sock").string();
  HostProcess host((kBin / "halvix").string(), {"--socket", socket, "--drive-root", app.path().string()},
                   app.path());
  ASSERT_TRUE(host.waitForSocket(socket));
  const std::string ctl = (kBin / "halvixctl").string();
  const char* sdk = "com.brisktide.corvel.methodchannel";
  EXPECT_EQ(halvix::test::runToEnd(ctl, {"--socket", socket, sdk, "initSDK", R"({"sdkEnv":{"VAR_IS_HOTDEV":true}})"},
                                   scratch.path())
                .out,
            "[true,\"\"]\n");
  EXPECT_EQ(halvix::test::runToEnd(ctl, {"--socket", socket, "--timeout", "0.5", sdk, "forwardPlateCall", "\"hex:90\""},
                                   scratch.path())
                .exitCode,
            4);
  const auto start = std::chrono::steady_clock::now();
  ProcessOutcome end = host.finish(SIGTERM);
  EXPECT_EQ(end.exitCode, 0) << end.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}
