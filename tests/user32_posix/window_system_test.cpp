// The headless window system: what the host's window code relies on.
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

std::vector<Seen>* g_seen = nullptr;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (g_seen) g_seen->push_back({window, message, wparam, lparam});
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class WindowSystem : public testing::Test {
 protected:
  void SetUp() override {
    g_seen = &seen;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = recordingProc;
    windowClass.lpszClassName = kClass;
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(RegisterClassW(&windowClass), 0) << "a class registers once";
  }
  void TearDown() override {
    g_seen = nullptr;
    EXPECT_TRUE(UnregisterClassW(kClass, nullptr));
  }
  std::vector<UINT> messagesOf(HWND window) const {
    std::vector<UINT> out;
    for (const Seen& s : seen)
      if (s.window == window) out.push_back(s.message);
    return out;
  }

  static constexpr const wchar_t* kClass = L"TEST_WINDOW";
  std::vector<Seen> seen;
};

TEST_F(WindowSystem, WindowsLiveAsTheHostExpects) {
  int owner = 0;
  HWND top = CreateWindowExW(0, kClass, L"top", WS_VISIBLE, 10, 20, 300, 200, nullptr, nullptr, nullptr, &owner);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(GetWindowLongPtrW(top, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&owner));
  EXPECT_EQ(messagesOf(top), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE}));
  EXPECT_EQ(CreateWindowExW(0, L"NO_SUCH_CLASS", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_FALSE(UnregisterClassW(kClass, nullptr)) << "refused while a window of the class lives";

  HWND child = CreateWindowExW(0, kClass, L"child", WS_CHILD, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(SetParent(child, top), nullptr);
  EXPECT_EQ(GetParent(child), top);
  seen.clear();
  RECT client{};
  ASSERT_TRUE(GetClientRect(top, &client));
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 200);
  MoveWindow(child, client.left, client.top, client.right, client.bottom, TRUE);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_SIZE));
  EXPECT_EQ(seen[0].lparam, MAKELPARAM(300, 200));
  MoveWindow(child, 5, 5, 300, 200, TRUE);
  EXPECT_EQ(seen.size(), 1u) << "a move without a size change sends no WM_SIZE";
  SetFocus(child);
  EXPECT_EQ(GetFocus(), child);

  seen.clear();
  ASSERT_TRUE(DestroyWindow(top));
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_EQ(GetFocus(), nullptr);
  std::vector<UINT> order;
  for (const Seen& s : seen) order.push_back(s.message);
  EXPECT_EQ(order, (std::vector<UINT>{WM_DESTROY, WM_DESTROY, WM_NCDESTROY, WM_NCDESTROY}));
  EXPECT_EQ(seen[0].window, top) << "the parent hears WM_DESTROY first";
  EXPECT_FALSE(DestroyWindow(top));
}

TEST_F(WindowSystem, MessageLoopDeliversPostsTimersAndQuit) {
  HWND window = CreateWindowExW(0, kClass, L"w", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  HWND gone = CreateWindowExW(0, kClass, L"gone", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  PostMessageW(gone, WM_APP + 9, 0, 0);
  DestroyWindow(gone);
  // Before the timer is set: its periods count from there.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(SetTimer(window, 100, 20, nullptr), 100u);
  std::thread poster([window] {
    for (int i = 0; i < 50; ++i) PostMessageW(window, WM_APP, static_cast<WPARAM>(i), 0);
  });
  poster.join();
  seen.clear();
  MSG message;
  int timers = 0;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    DispatchMessageW(&message);
    if (message.message == WM_TIMER && ++timers == 5) PostQuitMessage(3);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(message.wParam, 3u);
  std::vector<WPARAM> posts;
  for (const Seen& s : seen) {
    EXPECT_EQ(s.window, window) << "nothing reaches a destroyed window";
    if (s.message == WM_APP) posts.push_back(s.wparam);
    if (s.message == WM_TIMER) {
      EXPECT_EQ(s.wparam, 100u);
    }
  }
  ASSERT_EQ(posts.size(), 50u);
  for (WPARAM i = 0; i < posts.size(); ++i) EXPECT_EQ(posts[i], i);
  EXPECT_GE(elapsed, std::chrono::milliseconds(5 * 20)) << "five periods of 20 ms";
  DestroyWindow(window);
}

}  // namespace
