#pragma once
// Inside the engine stand-in: the platform thread as Flutter's Windows
// engine finds it when the host lends none, namely the thread that creates
// the engine, reached through a hidden message window on its message loop.
// Tasks wait in a queue of our own and one posted message wakes the window,
// so that a flood of tasks costs one message and none is ever lost with a
// dropped message.
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include <windows.h>

#include "platform/flutter_api/stand_in_api.h"

namespace halvix::flutter_engine {

class WindowTaskRunner : public std::enable_shared_from_this<WindowTaskRunner> {
 public:
  // Creates the hidden window on the calling thread; null when the window
  // system refuses it.
  static std::shared_ptr<WindowTaskRunner> create();
  // Runs, on the platform thread, whatever is still queued (each task then
  // only frees itself), then destroys the window.
  ~WindowTaskRunner();
  WindowTaskRunner(const WindowTaskRunner&) = delete;
  WindowTaskRunner& operator=(const WindowTaskRunner&) = delete;

  // The C runner for PlatformRunner; valid while this object lives.
  HalvixFlutterTaskRunner runner();

 private:
  WindowTaskRunner() = default;
  static void post(void* context, HalvixFlutterTask task, void* taskContext);
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void runQueued();

  HWND window_ = nullptr;
  std::mutex mutex_;
  std::deque<std::pair<HalvixFlutterTask, void*>> queued_;
  bool wakePosted_ = false;
};

}  // namespace halvix::flutter_engine
