// The C entry points of the engine stand-in for views: the view controller
// runs the engine and gives it a headless child window of the window system;
// DPI, fonts, textures and output streams as far as a headless engine has
// them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/flutter_api/flutter_windows.h"
#include "standins/flutter_engine/engine_core.h"
#include "standins/flutter_engine/messenger_socket.h"
#include "standins/flutter_engine/monitor_dpi.h"
#include "platform/flutter_api/stand_in_api.h"

struct FlutterDesktopViewControllerState {
  FlutterDesktopEngineRef engine = nullptr;
  FlutterDesktopView view;
};

namespace {

constexpr const wchar_t* kViewClassName = L"FLUTTERVIEW";

LRESULT CALLBACK viewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

// The socket from "--socket PATH", else the default one in a folder fit for
// it; empty with `problem` set when there is none.
std::string socketPathFor(const FlutterDesktopEngine& engine, std::string& problem) {
  const auto& arguments = engine.arguments;
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] != "--socket") continue;
    if (arguments[i + 1].empty()) problem = "no socket path was given after --socket";
    return arguments[i + 1];
  }
  auto location = halvix::flutter_engine::defaultMessengerSocketLocation();
  problem = halvix::flutter_engine::prepareMessengerSocketFolder(location);
  return problem.empty() ? location.path : std::string();
}

bool runEngine(FlutterDesktopEngine& engine) {
  std::string problem;
  std::string path = socketPathFor(engine, problem);
  if (path.empty()) {
    std::fprintf(stderr, "engine stand-in: %s\n", problem.c_str());
    return false;
  }
  if (int error = engine.core->listen(path)) {
    if (error == EADDRINUSE)
      std::fprintf(stderr, "engine stand-in: another host is listening on %s\n", path.c_str());
    else
      std::fprintf(stderr, "engine stand-in: cannot listen on %s: %s\n", path.c_str(), std::strerror(error));
    return false;
  }
  return true;
}

HWND createViewWindow(int width, int height) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = viewProc;
  windowClass.lpszClassName = kViewClassName;
  RegisterClassW(&windowClass);  // fails harmlessly when registered already
  // A child needs a parent before the host adopts it (SetParent): until then
  // it hangs below the message-only root, as Windows allows no parentless
  // child window.
  return CreateWindowExW(0, kViewClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, width, height, HWND_MESSAGE, nullptr,
                         nullptr, nullptr);
}

}  // namespace

extern "C" {

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                  FlutterDesktopEngineRef engine) {
  if (!engine) return nullptr;
  auto controller = std::make_unique<FlutterDesktopViewControllerState>();
  controller->engine = engine;
  controller->view.window = createViewWindow(width, height);
  if (!controller->view.window || !runEngine(*engine)) {
    if (controller->view.window) DestroyWindow(controller->view.window);
    FlutterDesktopEngineDestroy(engine);
    return nullptr;
  }
  engine->core->setView(&controller->view);
  return controller.release();
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (!controller) return;
  // The engine goes first: its plugins may still look at the view.
  FlutterDesktopEngineDestroy(controller->engine);
  DestroyWindow(controller->view.window);
  delete controller;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller) {
  return controller ? &controller->view : nullptr;
}

// A headless engine has nothing to do with its window's messages.
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef, HWND, UINT, WPARAM,
                                                          LPARAM, LRESULT*) {
  return false;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) { return view ? view->window : nullptr; }

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  if (engine) engine->core->reloadSystemFonts();
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(FlutterDesktopPluginRegistrarRef registrar) {
  if (!registrar) return nullptr;
  return registrar->core->view();
}

// No external textures: there is nothing to draw them on.
FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(FlutterDesktopPluginRegistrarRef) {
  return nullptr;
}

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(FlutterDesktopTextureRegistrarRef,
                                                              const FlutterDesktopTextureInfo*) {
  return -1;
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(FlutterDesktopTextureRegistrarRef, int64_t,
                                                             void (*callback)(void* user_data), void* user_data) {
  if (callback) callback(user_data);
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(FlutterDesktopTextureRegistrarRef, int64_t) {
  return false;
}

// Standard output and error are the C library's own here: nothing to resync.
void FlutterDesktopResyncOutputStreams(void) { std::fflush(nullptr); }

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  const char* value = std::getenv(HALVIX_FLUTTER_DPI_VARIABLE);
  if (!value || !*value) return halvix::flutter_engine::systemMonitorDpi(monitor);
  char* end = nullptr;
  const long dpi = std::strtol(value, &end, 10);
  return (*end == '\0' && dpi >= 72 && dpi <= 960) ? static_cast<UINT>(dpi)
                                                    : halvix::flutter_engine::systemMonitorDpi(monitor);
}

}  // extern "C"
