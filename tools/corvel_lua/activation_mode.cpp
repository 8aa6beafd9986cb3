#include <chrono>
#include <filesystem>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

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

  // Hot-development mode finds the application below the drive root, normal
  // mode in "lsd" below the current directory: a scratch tree stands in for
  // either, with that place linking to the application's folder.
  const bool normalMode = !run.bundle.empty();
  const std::filesystem::path bundle = normalMode ? std::filesystem::absolute(run.bundle) : std::filesystem::path();
  std::unique_ptr<ScratchRoot> scratch;
  try {
    scratch = normalMode ? std::make_unique<ScratchRoot>(bundle.parent_path(), sdk::kBundleFolder)
                         : std::make_unique<ScratchRoot>(run.appDir, sdk::kHotDevAppDir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvel-lua: %s\n", e.what());
    return 1;
  }

  sdk::setHotDevMode(!normalMode);
  sdk::CorvelNative native(normalMode ? sdk::SdkDirectories{scratch->path().string(), "/"}
                                      : sdk::SdkDirectories{".", scratch->path().string()});

  auto outcome = std::make_shared<InitOutcome>();
  native.initSDK(
      [outcome](std::vector<msgpack::object_handle>& results) {
        bool ok = results.size() == 2 && results[0].get().as<bool>();
        std::string message = results.size() == 2 ? results[1].get().as<std::string>() : "";
        writeLine(ok ? "initSDK: true" : "initSDK: false " + message);
        std::lock_guard<std::mutex> lock(outcome->mutex);
        outcome->reported = true;
        outcome->ok = ok;
        outcome->changed.notify_all();
      },
      10, normalMode ? bundle.filename().string() : "");

  native.startLooper(nullptr);
  for (const std::string& call : calls) {
    native.forwardPlateCall([](const std::vector<std::string>& answers) { writeLine("answer: " + toHex(answers.front())); },
                            call);
  }

  std::this_thread::sleep_for(std::chrono::duration<double>(run.seconds));
  native.stopLooper(nullptr);
  {
    // A start-up slower than the run still reports before the tick count.
    std::unique_lock<std::mutex> lock(outcome->mutex);
    outcome->changed.wait_for(lock, std::chrono::seconds(30), [&] { return outcome->reported; });
  }
  native.unInitSDK();
  writeLine("ticks: " + std::to_string(native.tickCount()));
  return 0;
}

}  // namespace halvix::tools
