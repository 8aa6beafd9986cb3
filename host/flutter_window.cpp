#include "host/flutter_window.h"

#include <atomic>
#include <optional>

#include "platform/console.h"
#include "sdk/flutter_lib_corvel_plugin.h"

namespace halvix::host {

namespace {
std::atomic<FlutterWindow*> g_mainWindow{nullptr};
}

FlutterWindow* mainWindow() { return g_mainWindow.load(); }

FlutterWindow::FlutterWindow(const flutter::DartProject& project, sdk::SdkDirectories directories)
    : project_(project), directories_(std::move(directories)) {
  g_mainWindow = this;
}

FlutterWindow::~FlutterWindow() {
  FlutterWindow* self = this;
  g_mainWindow.compare_exchange_strong(self, nullptr);
  flutter_controller_.reset();
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  RECT frame = GetClientArea();
  flutter_controller_ =
      std::make_unique<flutter::FlutterViewController>(frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!flutter_controller_->engine() || !flutter_controller_->view()) return false;
  // A window created again after being destroyed is the main one again.
  g_mainWindow = this;
  bridge_.Attach();

  sdk::registerSdkPlugin(flutter_controller_->engine()->GetRegistrarForPlugin(kSdkPluginName), directories_);
  SetChildContent(flutter_controller_->view()->GetNativeWindow());

  bridge_.InitChromaConnect();
  if (!bridge_.chromaStatus().empty()) {
    const std::string line = "Chroma Connect: " + bridge_.chromaStatus() + "\n";
    platform::consoleWrite(line.data(), line.size());
  }
  bridge_.RegisterChannel(flutter_controller_->engine()->messenger());
  SetTimer(GetHandle(), kColorTimerId, kColorTimerPeriodMs, nullptr);
  return true;
}

void FlutterWindow::OnDestroy() {
  // Creation starts by destroying whatever window there was: with none yet,
  // the window stays the main one.
  if (!flutter_controller_ && !GetHandle()) return Win32Window::OnDestroy();
  // Late colour events and Lua completions must find no window from here on.
  FlutterWindow* self = this;
  g_mainWindow.compare_exchange_strong(self, nullptr);
  bridge_.Detach();
  // Releasing the controller destroys the engine, which destroys the SDK
  // plugin and with it the SDK's activation.
  flutter_controller_.reset();
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (flutter_controller_) {
    std::optional<LRESULT> result = flutter_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) return *result;
  }
  switch (message) {
    case WM_FONTCHANGE:
      if (flutter_controller_) flutter_controller_->engine()->ReloadSystemFonts();
      break;
    case WM_TIMER:
      bridge_.OnColorTick();
      break;
  }
  return Win32Window::MessageHandler(window, message, wparam, lparam);
}

}  // namespace halvix::host
