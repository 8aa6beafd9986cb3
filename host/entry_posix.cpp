// The process entry on Linux: the arguments, the console, and SIGINT and
// SIGTERM, which close the main window as closing it by hand would.
#include <signal.h>
#include <unistd.h>

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
#include "sdk/corvel_native.h"

namespace {

// Exit code when the engine library cannot be loaded or lacks a function.
constexpr int kEngineLoadFailed = 2;

// Arguments reach the Dart side as UTF-8; one that is not valid UTF-8 is
// passed as an empty string, as an argument that does not convert is on
// the original platform.
bool validUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// Closes the main window when SIGINT or SIGTERM arrives, also when it
// arrives before the window exists or while it is being created.
class CloseOnSignal {
 public:
  static CloseOnSignal& Get() {
    static CloseOnSignal instance;
    return instance;
  }

  // Blocks the signals in this thread, before any other thread exists, so
  // that only the waiting thread takes them.
  void start() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([this, set] {
      for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
        if (target_) PostMessageW(target_, WM_CLOSE, 0, 0);
      }
    }).detach();
  }

  static void setTarget(HWND window) {
    CloseOnSignal& self = Get();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.target_ = window;
    if (window && self.requested_) PostMessageW(window, WM_CLOSE, 0, 0);
  }

 private:
  std::mutex mutex_;
  HWND target_ = nullptr;
  bool requested_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(validUtf8(argv[i]) ? argv[i] : std::string());

  // The console is standard error, used only when asked for or when a
  // debugger watches; standard error is inherited, so there is nothing to
  // reopen.
  bool console = halvix::platform::debuggerAttached();
  for (const std::string& argument : arguments) console = console || argument == "--console";
  halvix::platform::setConsolePresent(console);

  CloseOnSignal::Get().start();
  halvix::host::installEngineLoading();

  int status;
  try {
    halvix::host::HostHooks hooks;
    hooks.onWindow = CloseOnSignal::setTarget;
    status = halvix::host::RunHost(arguments, hooks);
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
