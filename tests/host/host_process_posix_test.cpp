// The halvix executable as a whole: where it finds the engine, how it serves
// the Dart side and how it ends.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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
using namespace std::chrono_literals;

const fs::path kBin = HALVIX_BIN_DIR;

enum class Source { kEngine, kGarbage, kNotTheEngine, kFifo, kNeverLoads };

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
    case Source::kFifo:
      ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
      break;
    case Source::kNeverLoads:
      fs::copy_file(kBin / "libnever_loading_engine.so", target);
      break;
  }
}

// The executable and the window system copied into `folder`, with `engine`
// as support.dat; returns the executable's path.
std::string hostIn(const fs::path& folder, Source engine) {
  fs::copy_file(kBin / "halvix", folder / "halvix");
  fs::copy_file(kBin / "libhalvix_user32.so", folder / "libhalvix_user32.so");
  place(engine, folder / "support.dat");
  return (folder / "halvix").string();
}

TEST(HostProcess, FindsTheEngineAsShippedElseByTheOrdinarySearch) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, Source>> beside;
    // The length of the path of the folder holding the executable (which
    // fits 260 characters up to 252); 0 for a short one.
    std::size_t folderLength;
    // Empty when the host must start.
    std::vector<std::string> failure;
  };
  const Case cases[] = {
      {"shipped file", {{"support.dat", Source::kEngine}}, 0, {}},
      {"shipped file wins", {{"support.dat", Source::kEngine}, {"flutter_windows.dll", Source::kGarbage}}, 0, {}},
      {"search only", {{"flutter_windows.dll", Source::kEngine}}, 0, {}},
      {"path too long", {{"support.dat", Source::kGarbage}, {"flutter_windows.dll", Source::kEngine}}, 300, {}},
      {"neither", {}, 0, {"support.dat", "flutter_windows.dll"}},
      {"a function missing", {{"support.dat", Source::kNotTheEngine}}, 0,
       {"lacks FlutterDesktopEngineCreate", "support.dat"}},
      {"a FIFO is never opened", {{"support.dat", Source::kFifo}}, 0, {"support.dat: not a regular file"}},
      {"the executable fits, the engine beside it not", {}, 250,
       {"its path beside the executable is too long", "flutter_windows.dll"}},
      {"the executable does not fit", {}, 300, {"the executable's path is too long"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    fs::path folder = dir.path();
    if (c.folderLength) {
      const std::size_t rest = c.folderLength - folder.string().size() - 2;
      folder /= std::string(rest / 2, 'd') + "/" + std::string(rest - rest / 2, 'e');
    }
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
      EXPECT_TRUE(host.waitForExit(20s)) << "start-up hangs";
      ProcessOutcome end = host.finish(SIGKILL);
      EXPECT_EQ(end.exitCode, 2);
      for (const std::string& part : c.failure) EXPECT_THAT(end.err, HasSubstr(part));
    }
  }
}

// SIGINT, SIGTERM and SIGHUP close a running host as closing its window
// would. During a start-up that never finishes (an engine library whose
// loading blocks) they end the process with 128 + the signal, and nothing
// is left behind.
TEST(HostProcess, RequestsToEndCloseTheHostAlsoDuringStartUp) {
  struct Case {
    int signal;
    Source engine;
    int exitCode;
  };
  const Case cases[] = {
      {SIGINT, Source::kEngine, 0},      {SIGTERM, Source::kEngine, 0},      {SIGHUP, Source::kEngine, 0},
      {SIGINT, Source::kNeverLoads, 130}, {SIGTERM, Source::kNeverLoads, 143}, {SIGHUP, Source::kNeverLoads, 143},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.engine == Source::kEngine ? " running" : " starting"));
    TempDir dir;
    const fs::path socket = dir.path() / "m.sock";
    const fs::path loading = dir.path() / "loading";
    HostProcess host(hostIn(dir.path(), c.engine), {"--socket", socket.string()}, dir.path(),
                     {"HALVIX_TEST_LOADING_MARK=" + loading.string()});
    if (c.engine == Source::kEngine) {
      ASSERT_TRUE(host.waitForSocket(socket.string()));
    } else {
      ASSERT_TRUE(halvix::test::waitUntil([&] { return fs::exists(loading); }));
    }
    const auto asked = std::chrono::steady_clock::now();
    ProcessOutcome end = host.finish(c.signal);
    EXPECT_EQ(end.exitCode, c.exitCode) << end.err;
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 20s);
    EXPECT_FALSE(fs::exists(socket));
  }
}

// With --console the host says on standard error why Chroma Connect is not
// in use; without it, nothing is written (the engine test above).
TEST(HostProcess, ConsoleShowsWhyChromaConnectIsNotInUse) {
  const struct {
    const char* name;
    bool libraryBesideExecutable;
    const char* line;
  } cases[] = {
      {"no library anywhere", false, "Chroma Connect: ChromaConnect API failed\n"},
      {"a library beside the executable is refused", true, "Chroma Connect: Invalid ChromaConnect API DLL\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string program = hostIn(dir.path(), Source::kEngine);
    if (c.libraryBesideExecutable)
      fs::copy_file(kBin.parent_path() / "lib" / "RzChromaConnectAPI64.dll", dir.path() / "RzChromaConnectAPI64.dll");
    const std::string socket = (dir.path() / "m.sock").string();
    HostProcess host(program, {"--socket", socket, "--console"}, dir.path());
    EXPECT_TRUE(host.waitForSocket(socket));
    ProcessOutcome end = host.finish(SIGTERM);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_THAT(end.err, HasSubstr(c.line));
  }
}

}  // namespace
