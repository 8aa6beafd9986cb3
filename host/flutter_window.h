#pragma once
// The main window: hosts the Flutter view, registers the SDK plugin and runs
// the Chroma bridge with its 100 ms colour timer. The bridge plugs in at four
// points: its state (owned here), its start-up (OnCreate), its channel
// (OnCreate) and its tick (WM_TIMER).
#include <memory>

#include "chroma/chroma_bridge.h"
#include "host/win32_window.h"
#include "platform/flutter/dart_project.h"
#include "platform/flutter/flutter_view_controller.h"
#include "sdk/corvel_native.h"

namespace halvix::host {

inline constexpr UINT_PTR kColorTimerId = 100;
inline constexpr UINT kColourTimerPeriodMs = 100;

class FlutterWindow : public Win32Window {
 public:
  // `directories` is where the SDK finds the application (the defaults are
  // the process's current directory and the drive root).
  explicit FlutterWindow(const flutter::DartProject& project, sdk::SdkDirectories directories = {});
  ~FlutterWindow() override;

  chroma::ChromaBridge& bridge() { return bridge_; }
  flutter::FlutterViewController* controller() { return flutter_controller_.get(); }

 protected:
  bool OnCreate() override;
  void OnDestroy() override;
  LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept override;

 private:
  // The bridge holds the Chroma status text, the relay state and the
  // broadcast sender.
  chroma::ChromaBridge bridge_;
  flutter::DartProject project_;
  sdk::SdkDirectories directories_;
  std::unique_ptr<flutter::FlutterViewController> flutter_controller_;
};

}  // namespace halvix::host
