// The host's start and end as a user sees them: from starting the process to
// its messenger socket accepting calls, and from SIGTERM to the process's
// exit with the example application running.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "tests/support/host_process.h"
#include "tests/support/hot_dev_app.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kHalvix = std::string(HALVIX_BIN_DIR) + "/halvix";
const std::string kHalvixctl = std::string(HALVIX_BIN_DIR) + "/halvixctl";

// The example application in a developer tree, which the host runs in
// hot-development mode.
class ExampleApp {
 public:
  ExampleApp() : app_("") {
    std::filesystem::copy(std::string(HALVIX_SOURCE_DIR) + "/examples/hello", app_.appRoot(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  }
  std::vector<std::string> hostArguments(const std::string& socket) const {
    return {"--socket", socket, "--drive-root", app_.directories().driveRoot};
  }
  // initSDK and startLooper, as the Dart side does at start.
  bool activate(const std::string& socket, const std::filesystem::path& logs) const {
    const char* channel = "com.brisktide.corvel.methodchannel";
    auto init = halvix::test::runToEnd(
        kHalvixctl, {"--socket", socket, channel, "initSDK", R"({"sdkEnv":{"VAR_IS_HOTDEV":true}})"}, logs);
    auto start = halvix::test::runToEnd(kHalvixctl, {"--socket", socket, channel, "startLooper"}, logs);
    return init.out == "[true,\"\"]\n" && start.out == "[true,\"\"]\n";
  }

 private:
  halvix::test::HotDevApp app_;
};

void BM_StartToSocketAccepting(benchmark::State& state) {
  halvix::test::TempDir dir;
  ExampleApp app;
  const std::string socket = (dir.path() / "m.sock").string();
  for (auto _ : state) {
    halvix::test::HostProcess host(kHalvix, app.hostArguments(socket), dir.path());
    if (!host.waitForSocket(socket)) state.SkipWithError("the host did not start");
    state.PauseTiming();
    host.finish(SIGTERM);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartToSocketAccepting)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SigtermToExit(benchmark::State& state) {
  halvix::test::TempDir dir;
  ExampleApp app;
  const std::string socket = (dir.path() / "m.sock").string();
  for (auto _ : state) {
    state.PauseTiming();
    halvix::test::HostProcess host(kHalvix, app.hostArguments(socket), dir.path());
    if (!host.waitForSocket(socket) || !app.activate(socket, dir.path()))
      state.SkipWithError("the host did not start the application");
    state.ResumeTiming();
    if (host.finish(SIGTERM).exitCode != 0) state.SkipWithError("the host did not exit with 0");
  }
}
BENCHMARK(BM_SigtermToExit)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
