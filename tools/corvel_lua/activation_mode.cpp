#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "platform/termination.h"
#include "sdk/app_paths.h"
#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tools/corvel_lua/corvel_lua.h"
#include "tools/corvel_lua/scratch_root.h"

namespace halvix::tools {

namespace {

// Lines come from the worker thread (answers, Lua prints) and from this one;
// each is written with one call so that they never interleave.
void writeLine(const std::string& line) {
  std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

struct InitOutcome {
  std::mutex mutex;
  std::condition_variable changed;
  bool reported = false;
  bool ok = false;
};

}  // namespace

int runActivation(const ActivationRun& run) {
  std::vector<std::string> calls;
  for (const std::string& hex : run.callsHex) {
    std::string bytes;
    if (!parseHex(hex, bytes)) {
      std::fprintf(stderr, "corvel-lua: --call needs hexadecimal bytes, got '%s'\n", hex.c_str());
      return 1;
    }
    calls.push_back(std::move(bytes));
  }

  // Taken before the worker exists, so that only waitForTerminationRequest
  // below ever sees a request, and the run ends in order.
  platform::takeTerminationRequests();

  // Hot-development mode finds the application below the drive root, normal
  // mode as "ls.lsd" in "lsd" below the current directory: a scratch tree
  // stands in for either.
  const bool normalMode = !run.bundle.empty();
  std::unique_ptr<ScratchRoot> scratch;
  try {
    scratch = std::make_unique<ScratchRoot>(normalMode ? ScratchRoot::Mode::kBundle : ScratchRoot::Mode::kHotDev,
                                            normalMode ? run.bundle : run.appDir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvel-lua: %s\n", e.what());
    return 1;
  }

  sdk::setHotDevMode(!normalMode);
  auto native = std::make_unique<sdk::CorvelNative>(normalMode ? sdk::SdkDirectories{scratch->path().string(), "/"}
                                                               : sdk::SdkDirectories{".", scratch->path().string()});

  auto outcome = std::make_shared<InitOutcome>();
  native->initSDK(
      [outcome](std::vector<msgpack::object_handle>& results) {
        bool ok = results.size() == 2 && results[0].get().as<bool>();
        std::string message = results.size() == 2 ? results[1].get().as<std::string>() : "";
        writeLine(ok ? "initSDK: true" : "initSDK: false " + message);
        std::lock_guard<std::mutex> lock(outcome->mutex);
        outcome->reported = true;
        outcome->ok = ok;
        outcome->changed.notify_all();
      },
      10, sdk::kDefaultBundleName);

  native->startLooper(nullptr);
  for (const std::string& call : calls) {
    native->forwardPlateCall(
        [](const std::vector<std::string>& answers) { writeLine("answer: " + toHex(answers.front())); }, call);
  }

  int signal = platform::waitForTerminationRequest(run.seconds);
  native->stopLooper(nullptr);
  if (!signal) {
    // A start-up slower than the run still reports before the tick count,
    // unless it is stuck or the run is told to end.
    std::unique_lock<std::mutex> lock(outcome->mutex);
    for (int waited = 0; !outcome->reported && waited < 300 && !signal; ++waited) {
      lock.unlock();
      signal = platform::waitForTerminationRequest(0.1);
      lock.lock();
    }
  }
  native->unInitSDK();
  writeLine("ticks: " + std::to_string(native->tickCount()));
  bool ok;
  {
    std::lock_guard<std::mutex> lock(outcome->mutex);
    ok = outcome->reported && outcome->ok;
  }
  const int status = signal ? 128 + signal : (ok ? 0 : 1);
  if (sdk::abandonedSdkWorkers() > 0) {
    // The abandoned worker still uses the process: leave without running
    // destructors under it.
    std::fflush(nullptr);
    ScratchRoot::removeAll();
    _exit(status);
  }
  return status;
}

}  // namespace halvix::tools
