// The headless window system behind <windows.h> on Linux. One registry of
// classes and live windows for the process; one message queue per thread.
// Window procedures are never called with a lock held, so that they may call
// back into any function here.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  std::chrono::milliseconds period;
  Clock::time_point due;
};

// The messages of one thread: posted ones in order, and its windows' timers,
// which produce WM_TIMER only when nothing is posted, as on Windows.
struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<MSG> posted;
  std::map<std::pair<HWND, UINT_PTR>, Timer> timers;
  HWND focus = nullptr;
  DWORD threadId = 0;
};

struct WindowClass {
  WNDPROC proc;
  UINT style;
};

}  // namespace

struct HWND__ {
  std::wstring className;
  std::wstring title;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  HWND parent = nullptr;
  RECT rect{};  // in the parent's client coordinates (screen for top-level windows)
  LONG_PTR userData = 0;
  bool destroying = false;
  std::shared_ptr<ThreadQueue> queue;
};

struct HMONITOR__ {};
struct HICON__ {};
struct HINSTANCE__ {};

namespace {

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

// Both live for the whole process: windows may be destroyed from static
// destructors.
std::map<std::wstring, WindowClass>& classes() {
  static auto* all = new std::map<std::wstring, WindowClass>;
  return *all;
}

std::set<HWND>& liveWindows() {
  static auto* all = new std::set<HWND>;
  return *all;
}

std::shared_ptr<ThreadQueue>& currentQueue() {
  static std::mutex idMutex;
  static DWORD nextThreadId = 1;
  thread_local std::shared_ptr<ThreadQueue> queue = [] {
    auto q = std::make_shared<ThreadQueue>();
    std::lock_guard<std::mutex> lock(idMutex);
    q->threadId = nextThreadId++;
    return q;
  }();
  return queue;
}

bool isLive(HWND window) {
  std::lock_guard<std::mutex> lock(registryMutex());
  return window && liveWindows().count(window) != 0;
}

std::wstring classKey(LPCWSTR name) {
  // A class given as an atom (an integer in the pointer) is not supported;
  // names are compared exactly.
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) return std::wstring();
  return std::wstring(name);
}

std::vector<HWND> childrenOf(HWND parent) {
  std::lock_guard<std::mutex> lock(registryMutex());
  std::vector<HWND> children;
  for (HWND w : liveWindows())
    if (w->parent == parent) children.push_back(w);
  return children;
}

void post(const std::shared_ptr<ThreadQueue>& queue, const MSG& message) {
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->posted.push_back(message);
  }
  queue->changed.notify_all();
}

void sendSize(HWND window) {
  const LONG width = window->rect.right - window->rect.left;
  const LONG height = window->rect.bottom - window->rect.top;
  SendMessageW(window, WM_SIZE, 0, MAKELPARAM(width, height));
}

}  // namespace

extern "C" {

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
  if (!windowClass || !windowClass->lpfnWndProc) return 0;
  std::wstring name = classKey(windowClass->lpszClassName);
  if (name.empty()) return 0;
  std::lock_guard<std::mutex> lock(registryMutex());
  auto [it, inserted] = classes().emplace(name, WindowClass{windowClass->lpfnWndProc, windowClass->style});
  if (!inserted) return 0;  // already registered, as ERROR_CLASS_ALREADY_EXISTS
  return static_cast<ATOM>(classes().size());
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  std::wstring name = classKey(className);
  std::lock_guard<std::mutex> lock(registryMutex());
  for (HWND w : liveWindows())
    if (w->className == name) return FALSE;  // windows of the class still exist
  return classes().erase(name) ? TRUE : FALSE;
}

HWND CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width, int height,
                     HWND parent, HMENU, HINSTANCE instance, LPVOID param) {
  auto window = std::make_unique<HWND__>();
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = classes().find(classKey(className));
    if (it == classes().end()) return nullptr;
    window->className = it->first;
    window->proc = it->second.proc;
    if (parent && parent != HWND_MESSAGE && !liveWindows().count(parent)) return nullptr;
  }
  window->title = windowName ? windowName : L"";
  window->style = style;
  window->parent = parent == HWND_MESSAGE ? nullptr : parent;
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) width = height = 0;
  window->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  window->queue = currentQueue();
  HWND handle = window.release();
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    liveWindows().insert(handle);
  }
  CREATESTRUCTW create{param, instance, nullptr, handle->parent, height, width, y, x, static_cast<LONG>(style),
                       windowName, className, 0};
  const LPARAM createParam = reinterpret_cast<LPARAM>(&create);
  if (!SendMessageW(handle, WM_NCCREATE, 0, createParam) || SendMessageW(handle, WM_CREATE, 0, createParam) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  sendSize(handle);
  return handle;
}

BOOL DestroyWindow(HWND window) {
  if (!isLive(window) || window->destroying) return FALSE;
  window->destroying = true;
  SendMessageW(window, WM_DESTROY, 0, 0);
  for (HWND child : childrenOf(window)) DestroyWindow(child);
  SendMessageW(window, WM_NCDESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> lock(window->queue->mutex);
    for (auto it = window->queue->timers.begin(); it != window->queue->timers.end();)
      it = it->first.first == window ? window->queue->timers.erase(it) : std::next(it);
    if (window->queue->focus == window) window->queue->focus = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    liveWindows().erase(window);
  }
  // Messages still queued for it are dropped when they come up: a handle
  // is never reused while the process runs, so none reaches another window.
  std::lock_guard<std::mutex> lock(registryMutex());
  static auto* graveyard = new std::vector<std::unique_ptr<HWND__>>;
  graveyard->emplace_back(window);
  return TRUE;
}

BOOL IsWindow(HWND window) { return isLive(window) ? TRUE : FALSE; }

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(window); return 0;
    default: return 0;
  }
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  if (!isLive(window) || index != GWLP_USERDATA) return 0;
  LONG_PTR previous = window->userData;
  window->userData = value;
  return previous;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  if (!isLive(window) || index != GWLP_USERDATA) return 0;
  return window->userData;
}

HWND SetParent(HWND child, HWND parent) {
  if (!isLive(child) || (parent && !isLive(parent)) || parent == child) return nullptr;
  HWND previous = child->parent;
  child->parent = parent;
  return previous;
}

HWND GetParent(HWND window) { return isLive(window) ? window->parent : nullptr; }

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
  return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  if (!isLive(window)) return FALSE;
  RECT& r = window->rect;
  const LONG oldWidth = r.right - r.left;
  const LONG oldHeight = r.bottom - r.top;
  LONG left = (flags & SWP_NOMOVE) ? r.left : x;
  LONG top = (flags & SWP_NOMOVE) ? r.top : y;
  LONG width = (flags & SWP_NOSIZE) ? oldWidth : std::max(cx, 0);
  LONG height = (flags & SWP_NOSIZE) ? oldHeight : std::max(cy, 0);
  r = RECT{left, top, left + width, top + height};
  if (width != oldWidth || height != oldHeight) sendSize(window);
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  if (!isLive(window) || !rect) return FALSE;
  // Headless windows have no frame: the client area is the whole window.
  *rect = RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  if (!isLive(window) || !rect) return FALSE;
  *rect = window->rect;
  return TRUE;
}

HWND SetFocus(HWND window) {
  if (window && !isLive(window)) return nullptr;
  auto& queue = currentQueue();
  std::lock_guard<std::mutex> lock(queue->mutex);
  HWND previous = queue->focus;
  queue->focus = window;
  return previous;
}

HWND GetFocus(void) {
  auto& queue = currentQueue();
  std::lock_guard<std::mutex> lock(queue->mutex);
  return queue->focus;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC) {
  if (!isLive(window)) return 0;
  // Windows raises periods below 10 ms to 10 ms.
  const std::chrono::milliseconds period(std::max<UINT>(elapse, 10));
  {
    std::lock_guard<std::mutex> lock(window->queue->mutex);
    window->queue->timers[{window, id}] = Timer{period, Clock::now() + period};
  }
  window->queue->changed.notify_all();
  return id ? id : 1;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  if (!isLive(window)) return FALSE;
  std::lock_guard<std::mutex> lock(window->queue->mutex);
  return window->queue->timers.erase({window, id}) ? TRUE : FALSE;
}

void PostQuitMessage(int exitCode) {
  MSG quit{};
  quit.message = WM_QUIT;
  quit.wParam = static_cast<WPARAM>(exitCode);
  post(currentQueue(), quit);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<ThreadQueue> queue;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (!window || !liveWindows().count(window)) return FALSE;
    queue = window->queue;
  }
  MSG posted{};
  posted.hwnd = window;
  posted.message = message;
  posted.wParam = wparam;
  posted.lParam = lparam;
  post(queue, posted);
  return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!isLive(window)) return 0;
  return window->proc(window, message, wparam, lparam);
}

BOOL GetMessageW(MSG* message, HWND, UINT, UINT) {
  auto& queue = currentQueue();
  std::unique_lock<std::mutex> lock(queue->mutex);
  for (;;) {
    if (!queue->posted.empty()) {
      *message = queue->posted.front();
      queue->posted.pop_front();
      return message->message == WM_QUIT ? FALSE : TRUE;
    }
    auto next = queue->timers.end();
    for (auto it = queue->timers.begin(); it != queue->timers.end(); ++it)
      if (next == queue->timers.end() || it->second.due < next->second.due) next = it;
    const Clock::time_point now = Clock::now();
    if (next != queue->timers.end() && next->second.due <= now) {
      // Elapsed periods do not pile up: one WM_TIMER, then a full period.
      next->second.due = now + next->second.period;
      *message = MSG{};
      message->hwnd = next->first.first;
      message->message = WM_TIMER;
      message->wParam = next->first.second;
      return TRUE;
    }
    if (next == queue->timers.end())
      queue->changed.wait(lock);
    else
      queue->changed.wait_until(lock, next->second.due);
  }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* message) {
  if (!message || !isLive(message->hwnd)) return 0;
  return message->hwnd->proc(message->hwnd, message->message, message->wParam, message->lParam);
}

HMONITOR MonitorFromPoint(POINT, DWORD) {
  static HMONITOR__ primary;
  return &primary;
}

HICON LoadIconW(HINSTANCE, LPCWSTR) {
  static HICON__ icon;
  return &icon;
}

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR) {
  static HICON__ cursor;
  return &cursor;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  static HINSTANCE__ executable;
  return name ? nullptr : &executable;
}

DWORD GetCurrentThreadId(void) { return currentQueue()->threadId; }

}  // extern "C"
