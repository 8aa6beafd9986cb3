// The process entry on Linux: the arguments, the console, and requests to
// end the process, which close the main window as closing it by hand would.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/engine_loading.h"
#include "host/host_main.h"
#include "platform/console.h"
#include "platform/flutter/engine_api.h"
#include "platform/termination.h"
#include "platform/utf8.h"
#include "sdk/corvel_native.h"

namespace {

// Exit code when the engine library cannot be loaded or lacks a function.
constexpr int kEngineLoadFailed = 2;


// Requests to end the process (SIGINT, SIGTERM, SIGHUP) close the main
// window as closing it by hand would. One that comes during start-up, before
// the window exists, closes the window once it does; if start-up does not
// finish within a grace period (a library that never finishes loading, say),
// the process ends at once, as nothing outside it exists yet.
class CloseOnRequest {
 public:
  static CloseOnRequest& Get() {
    static CloseOnRequest instance;
    return instance;
  }

  // Before any other thread exists, so that only the waiting thread takes
  // the requests.
  void start() {
    halvix::platform::takeTerminationRequests();
    std::thread([this] {
      for (;;) {
        if (const int signal = halvix::platform::waitForTerminationRequest(3600)) onRequest(signal);
      }
    }).detach();
  }

  // The window once the loop runs; null once it has ended.
  static void setTarget(HWND window) {
    CloseOnRequest& self = Get();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.phase_ = window ? Phase::Running : Phase::Ending;
    self.target_ = window;
    self.changed_.notify_all();
  }

 private:
  static constexpr std::chrono::seconds kStartupGrace{2};

  void onRequest(int signal) {
    std::unique_lock<std::mutex> lock(mutex_);
    switch (phase_) {
      case Phase::Running:
        PostMessageW(target_, WM_CLOSE, 0, 0);
        return;
      case Phase::Ending:
        return;
      case Phase::Starting:
        if (changed_.wait_for(lock, kStartupGrace, [this] { return phase_ != Phase::Starting; })) {
          if (phase_ == Phase::Running) PostMessageW(target_, WM_CLOSE, 0, 0);
          return;
        }
        // The stuck thread may hold the standard streams' locks: nothing
        // here may wait for them.
        _exit(128 + signal);
    }
  }

  enum class Phase { Starting, Running, Ending };
  std::mutex mutex_;
  std::condition_variable changed_;
  Phase phase_ = Phase::Starting;
  HWND target_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  // Arguments reach the Dart side as UTF-8; one that is not well-formed is
  // passed as an empty string, as an argument that does not convert is on
  // the original platform.
  for (int i = 1; i < argc; ++i)
    arguments.push_back(halvix::platform::isWellFormedUtf8(argv[i]) ? argv[i] : std::string());

  // The console is standard error, used only when asked for or when a
  // debugger watches; standard error is inherited, so there is nothing to
  // reopen.
  bool console = halvix::platform::debuggerAttached();
  for (const std::string& argument : arguments) console = console || argument == "--console";
  halvix::platform::setConsolePresent(console);

  CloseOnRequest::Get().start();
  halvix::host::installEngineLoading();

  int status;
  try {
    halvix::host::HostHooks hooks;
    hooks.onWindow = CloseOnRequest::setTarget;
    status = halvix::host::runHost(arguments, hooks);
  } catch (const flutter::EngineLoadError& e) {
    std::fprintf(stderr, "halvix: %s\n", e.what());
    status = kEngineLoadFailed;
  }
  std::fflush(nullptr);
  // A worker stuck in the Lua application still uses the process: leave
  // without running static destructors under it.
  if (halvix::sdk::abandonedSdkWorkers() > 0) _exit(status);
  return status;
}
