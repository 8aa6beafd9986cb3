#pragma once
// A top-level window with DPI-aware creation and one hosted child window. It
// knows nothing of Flutter: subclasses add content through OnCreate and
// OnDestroy and see every message first in MessageHandler.
#include <windows.h>

#include <string>

namespace halvix::host {

class Win32Window {
 public:
  struct Point {
    unsigned int x;
    unsigned int y;
  };
  struct Size {
    unsigned int width;
    unsigned int height;
  };

  Win32Window();
  virtual ~Win32Window();
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window at `origin` with `size`, both in 96-dpi units scaled
  // by the DPI of the monitor nearest to the origin. True when the window
  // exists and OnCreate succeeded.
  bool CreateAndShow(const std::wstring& title, const Point& origin, const Size& size);
  // Runs OnDestroy and destroys the window; unregisters the window class once
  // no Win32Window is left.
  void Destroy();
  // Hosts `content` as the only child: it fills the client area and gets the
  // keyboard focus.
  void SetChildContent(HWND content);
  HWND GetHandle() const { return window_handle_; }
  // Whether destroying the window posts the quit message.
  void SetQuitOnClose(bool quit_on_close) { quit_on_close_ = quit_on_close; }
  RECT GetClientArea() const;

  // Win32Window objects alive in the process.
  static int LiveWindowCount();
  static constexpr const wchar_t* kWindowClassName = L"HALVIX_WIN32_WINDOW";

 protected:
  // Every message of the window, after the window procedure found this object.
  virtual LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  virtual bool OnCreate();
  virtual void OnDestroy();

 private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  static Win32Window* GetThisFromHandle(HWND window) noexcept;

  bool quit_on_close_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
};

}  // namespace halvix::host
