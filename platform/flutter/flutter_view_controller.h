#pragma once
// The Flutter view and the engine that draws it. Destroying the controller
// destroys the view and the engine.
#include <windows.h>

#include <memory>
#include <optional>

#include "platform/flutter/dart_project.h"
#include "platform/flutter/flutter_engine.h"
#include "platform/flutter_api/flutter_windows.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  HWND GetNativeWindow() const;

 private:
  FlutterDesktopViewRef view_;
};

class FlutterViewController {
 public:
  // Creates an engine for `project` and a view of the given size on it. When
  // the engine refuses, engine() and view() are null ("Failed to create view
  // controller." goes to standard error). Throws EngineLoadError when the
  // engine library cannot be loaded.
  FlutterViewController(int width, int height, const DartProject& project);
  ~FlutterViewController();
  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() { return controller_ ? engine_.get() : nullptr; }
  FlutterView* view() { return view_.get(); }

  // Offers a message of the top-level window to the view; a result means the
  // view handled it and the window must not.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  std::unique_ptr<FlutterEngine> engine_;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
