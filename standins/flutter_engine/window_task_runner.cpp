#include "standins/flutter_engine/window_task_runner.h"

namespace halvix::flutter_engine {

namespace {

constexpr const wchar_t* kClassName = L"HalvixFlutterTaskRunnerWindow";
constexpr UINT kWake = WM_APP + 0x46;

}  // namespace

std::shared_ptr<WindowTaskRunner> WindowTaskRunner::create() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.lpszClassName = kClassName;
  // Registered once for the process: a second registration fails harmlessly.
  RegisterClassW(&windowClass);
  std::shared_ptr<WindowTaskRunner> runner(new WindowTaskRunner);
  runner->window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!runner->window_) return nullptr;
  SetWindowLongPtrW(runner->window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(runner.get()));
  return runner;
}

WindowTaskRunner::~WindowTaskRunner() {
  if (!window_) return;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (queued_.empty()) break;
    }
    runQueued();
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

HalvixFlutterTaskRunner WindowTaskRunner::runner() {
  HalvixFlutterTaskRunner runner{};
  runner.struct_size = sizeof runner;
  runner.host_context = this;
  runner.post = post;
  return runner;
}

void WindowTaskRunner::post(void* context, HalvixFlutterTask task, void* taskContext) {
  auto* self = static_cast<WindowTaskRunner*>(context);
  std::lock_guard lock(self->mutex_);
  self->queued_.emplace_back(task, taskContext);
  if (!self->wakePosted_) self->wakePosted_ = PostMessageW(self->window_, kWake, 0, 0) != FALSE;
}

LRESULT CALLBACK WindowTaskRunner::windowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kWake) {
    if (auto* self = reinterpret_cast<WindowTaskRunner*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      // A task may drop the last engine and with it this runner.
      if (std::shared_ptr<WindowTaskRunner> keep = self->weak_from_this().lock()) keep->runQueued();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void WindowTaskRunner::runQueued() {
  std::deque<std::pair<HalvixFlutterTask, void*>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queued_);
    wakePosted_ = false;
  }
  for (auto& [task, context] : batch) task(context);
}

}  // namespace halvix::flutter_engine
