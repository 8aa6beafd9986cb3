#include "host/win32_window.h"

#include <atomic>

#include "host/resources.h"
#include "platform/dynamic_library.h"
#include "platform/flutter/engine_api.h"

namespace halvix::host {

namespace {

std::atomic<int> g_liveWindows{0};

// The window class is registered at the first creation and unregistered
// when the last Win32Window goes.
class WindowClassRegistrar {
 public:
  static WindowClassRegistrar& Get() {
    static WindowClassRegistrar instance;
    return instance;
  }

  const wchar_t* GetWindowClass(WNDPROC procedure) {
    if (!registered_) {
      WNDCLASSW windowClass{};
      windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      windowClass.lpszClassName = Win32Window::kWindowClassName;
      windowClass.style = CS_HREDRAW | CS_VREDRAW;
      windowClass.hInstance = GetModuleHandleW(nullptr);
      windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(kAppIconResource));
      windowClass.lpfnWndProc = procedure;
      RegisterClassW(&windowClass);
      registered_ = true;
    }
    return Win32Window::kWindowClassName;
  }

  void UnregisterWindowClass() {
    UnregisterClassW(Win32Window::kWindowClassName, nullptr);
    registered_ = false;
  }

 private:
  bool registered_ = false;
};

// Scales the non-client area on systems that offer it; older systems (and
// the headless window system) lack the function, which changes nothing else.
void EnableFullDpiSupportIfAvailable(HWND window) {
  platform::DynamicLibrary user32 = platform::DynamicLibrary::open("User32.dll");
  if (!user32.isOpen()) return;
  using EnableNonClientDpiScaling = BOOL(WINAPI*)(HWND);
  if (auto enable = user32.function<EnableNonClientDpiScaling>("EnableNonClientDpiScaling")) enable(window);
}

int Scale(unsigned int source, double scale) { return static_cast<int>(source * scale); }

}  // namespace

Win32Window::Win32Window() { ++g_liveWindows; }

Win32Window::~Win32Window() {
  --g_liveWindows;
  Destroy();
}

int Win32Window::LiveWindowCount() { return g_liveWindows.load(); }

bool Win32Window::CreateAndShow(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();
  const wchar_t* windowClass = WindowClassRegistrar::Get().GetWindowClass(WndProc);

  const POINT target{static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = MonitorFromPoint(target, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = flutter::EngineApi().FlutterDesktopGetDpiForMonitor(monitor);
  const double scale = dpi / 96.0;

  HWND window = CreateWindowExW(0, windowClass, title.c_str(), WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX,
                                Scale(origin.x, scale), Scale(origin.y, scale), Scale(size.width, scale),
                                Scale(size.height, scale), nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (!window) return false;
  return OnCreate();
}

LRESULT CALLBACK Win32Window::WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    EnableFullDpiSupportIfAvailable(window);
    static_cast<Win32Window*>(create->lpCreateParams)->window_handle_ = window;
  } else if (Win32Window* that = GetThisFromHandle(window)) {
    return that->MessageHandler(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      Destroy();
      if (quit_on_close_) PostQuitMessage(0);
      return 0;

    case WM_DPICHANGED: {
      auto* suggested = reinterpret_cast<RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_SIZE: {
      if (child_content_) {
        RECT rect = GetClientArea();
        MoveWindow(child_content_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (child_content_) SetFocus(child_content_);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void Win32Window::Destroy() {
  OnDestroy();
  if (window_handle_) {
    DestroyWindow(window_handle_);
    window_handle_ = nullptr;
  }
  if (g_liveWindows == 0) WindowClassRegistrar::Get().UnregisterWindowClass();
}

Win32Window* Win32Window::GetThisFromHandle(HWND window) noexcept {
  return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Win32Window::SetChildContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_);
  RECT frame = GetClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, TRUE);
  SetFocus(child_content_);
}

RECT Win32Window::GetClientArea() const {
  RECT frame{};
  GetClientRect(window_handle_, &frame);
  return frame;
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

}  // namespace halvix::host
