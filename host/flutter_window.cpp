#include "host/flutter_window.h"

#include <optional>

#include "platform/console.h"
#include "sdk/flutter_lib_corvel_plugin.h"

namespace halvix::host {

FlutterWindow::FlutterWindow(const flutter::DartProject& project, sdk::SdkDirectories directories)
    : project_(project), directories_(std::move(directories)) {}

FlutterWindow::~FlutterWindow() { flutter_controller_.reset(); }

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  RECT frame = GetClientArea();
  flutter_controller_ =
      std::make_unique<flutter::FlutterViewController>(frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!flutter_controller_->engine() || !flutter_controller_->view()) return false;
  // A window created again after being destroyed takes colour events again.
  bridge_.attach();

  FlutterDesktopPluginRegistrarRef registrar =
      flutter_controller_->engine()->GetRegistrarForPlugin(sdk::kSdkPluginName);
  // The exported entry is how the plugin is registered; it knows only the
  // SDK's default directories, which arguments may move elsewhere.
  const sdk::SdkDirectories defaults;
  if (directories_.currentDir == defaults.currentDir && directories_.driveRoot == defaults.driveRoot)
    FlutterLibCorvelPluginRegisterWithRegistrar(registrar);
  else
    sdk::registerSdkPlugin(registrar, directories_);
  SetChildContent(flutter_controller_->view()->GetNativeWindow());

  bridge_.InitChromaConnect();
  if (!bridge_.chromaStatus().empty()) {
    const std::string line = "Chroma Connect: " + bridge_.chromaStatus() + "\n";
    platform::consoleWrite(line.data(), line.size());
  }
  bridge_.registerChannel(flutter_controller_->engine()->messenger());
  SetTimer(GetHandle(), kColorTimerId, kColourTimerPeriodMs, nullptr);
  return true;
}

void FlutterWindow::OnDestroy() {
  // Late colour events and Lua completions must find no window from here on.
  bridge_.detach();
  // Releasing the controller destroys the engine, which destroys the SDK
  // plugin and with it the SDK's activation.
  if (flutter_controller_) flutter_controller_ = nullptr;
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
