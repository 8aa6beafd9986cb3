#include "platform/flutter/flutter_view_controller.h"

#include <iostream>

#include "platform/flutter/engine_api.h"

namespace flutter {

HWND FlutterView::GetNativeWindow() const { return EngineApi().FlutterDesktopViewGetHWND(view_); }

FlutterViewController::FlutterViewController(int width, int height, const DartProject& project) {
  engine_ = std::make_unique<FlutterEngine>(project);
  if (!engine_->valid()) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  const FlutterDesktopApi& api = EngineApi();
  controller_ = api.FlutterDesktopViewControllerCreate(width, height, engine_->RelinquishEngine());
  if (!controller_) {
    // The engine went with the failed controller.
    engine_.reset();
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  view_ = std::make_unique<FlutterView>(api.FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  // The engine object goes first, while the engine it refers to still exists;
  // destroying the controller then destroys the view and the engine.
  engine_.reset();
  if (controller_) EngineApi().FlutterDesktopViewControllerDestroy(controller_);
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam,
                                                                       LPARAM lparam) {
  if (!controller_) return std::nullopt;
  LRESULT result = 0;
  const bool handled =
      EngineApi().FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, window, message, wparam, lparam,
                                                                       &result);
  return handled ? std::optional<LRESULT>(result) : std::nullopt;
}

}  // namespace flutter
