#pragma once
// The window system of the original platform, stood in for on Linux: the
// subset of the Win32 user interface that the host and the engine stand-in
// use, with the same names, types and messages, so that the host's window
// code is the same source on both targets (the Windows build includes the
// real <windows.h> instead; this folder is on the include path only here).
//
// Windows are headless: they have rectangles, parents, user data, focus and
// timers, but nothing is drawn. Each thread has its own message queue, as on
// Windows: GetMessageW waits on the calling thread's queue, PostMessageW
// queues on the thread that created the window, SendMessageW calls the window
// procedure directly (same thread only), and a due timer produces WM_TIMER
// when the queue is otherwise empty.
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WINAPI
#define CALLBACK
#define HALVIX_USER32_EXPORT __attribute__((visibility("default")))

typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uint16_t ATOM;
typedef wchar_t WCHAR;
typedef const wchar_t* LPCWSTR;
typedef void* LPVOID;

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HMONITOR__* HMONITOR;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HBRUSH__* HBRUSH;
typedef struct HMENU__* HMENU;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

typedef struct tagWNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
} WNDCLASSW;

typedef struct tagCREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTW;

#define LOWORD(l) ((uint16_t)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((uint16_t)((((uintptr_t)(l)) >> 16) & 0xffff))
#define MAKELPARAM(l, h) ((LPARAM)(((uint32_t)(uint16_t)(l)) | (((uint32_t)(uint16_t)(h)) << 16)))
#define MAKEINTRESOURCEW(i) ((LPCWSTR)(uintptr_t)(uint16_t)(i))
#define MAKEINTRESOURCE MAKEINTRESOURCEW

#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_FONTCHANGE 0x001D
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_TIMER 0x0113
#define WM_DPICHANGED 0x02E0
#define WM_APP 0x8000

#define WA_INACTIVE 0
#define WA_ACTIVE 1

#define WS_OVERLAPPED 0x00000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_SYSMENU 0x00080000L
#define WS_MINIMIZEBOX 0x00020000L
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CW_USEDEFAULT ((int)0x80000000)

#define GWLP_USERDATA (-21)

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010

#define MONITOR_DEFAULTTONEAREST 0x00000002
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define HWND_MESSAGE ((HWND)(intptr_t)-3)

HALVIX_USER32_EXPORT ATOM RegisterClassW(const WNDCLASSW* windowClass);
HALVIX_USER32_EXPORT BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
HALVIX_USER32_EXPORT HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                                          int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                          LPVOID param);
HALVIX_USER32_EXPORT BOOL DestroyWindow(HWND window);
HALVIX_USER32_EXPORT BOOL IsWindow(HWND window);
HALVIX_USER32_EXPORT LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
HALVIX_USER32_EXPORT LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
HALVIX_USER32_EXPORT LONG_PTR GetWindowLongPtrW(HWND window, int index);
HALVIX_USER32_EXPORT HWND SetParent(HWND child, HWND parent);
HALVIX_USER32_EXPORT HWND GetParent(HWND window);
HALVIX_USER32_EXPORT BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
HALVIX_USER32_EXPORT BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
HALVIX_USER32_EXPORT BOOL GetClientRect(HWND window, RECT* rect);
HALVIX_USER32_EXPORT BOOL GetWindowRect(HWND window, RECT* rect);
HALVIX_USER32_EXPORT HWND SetFocus(HWND window);
HALVIX_USER32_EXPORT HWND GetFocus(void);
HALVIX_USER32_EXPORT UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
HALVIX_USER32_EXPORT BOOL KillTimer(HWND window, UINT_PTR id);
HALVIX_USER32_EXPORT void PostQuitMessage(int exitCode);
HALVIX_USER32_EXPORT BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
HALVIX_USER32_EXPORT LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
HALVIX_USER32_EXPORT BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
HALVIX_USER32_EXPORT BOOL TranslateMessage(const MSG* message);
HALVIX_USER32_EXPORT LRESULT DispatchMessageW(const MSG* message);
HALVIX_USER32_EXPORT HMONITOR MonitorFromPoint(POINT point, DWORD flags);
HALVIX_USER32_EXPORT HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HALVIX_USER32_EXPORT HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
HALVIX_USER32_EXPORT HMODULE GetModuleHandleW(LPCWSTR name);
HALVIX_USER32_EXPORT DWORD GetCurrentThreadId(void);

#define RegisterClass RegisterClassW
#define UnregisterClass UnregisterClassW
#define CreateWindowEx CreateWindowExW
#define DefWindowProc DefWindowProcW
#define SetWindowLongPtr SetWindowLongPtrW
#define GetWindowLongPtr GetWindowLongPtrW
#define PostMessage PostMessageW
#define SendMessage SendMessageW
#define GetMessage GetMessageW
#define DispatchMessage DispatchMessageW
#define LoadIcon LoadIconW
#define LoadCursor LoadCursorW
#define GetModuleHandle GetModuleHandleW

#ifdef __cplusplus
}  // extern "C"
#endif
