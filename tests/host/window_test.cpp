// The main window on the headless window system, with the engine stand-in
// running on this thread's message loop as it does in the host.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host/flutter_window.h"
#include "host/host_main.h"
#include "standins/flutter_engine/messenger_client.h"
#include "standins/flutter_engine/stand_in_loader.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

namespace {

using halvix::host::FlutterWindow;
using halvix::host::Win32Window;
using namespace std::chrono_literals;

// The engine table comes from the stand-in beside the test, once.
const halvix::flutter_engine::StandIn& standIn() {
  static halvix::flutter_engine::StandIn instance;
  return instance;
}

RECT windowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

RECT clientRect(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return rect;
}

testing::AssertionResult sameRect(const RECT& a, const RECT& b) {
  if (a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom)
    return testing::AssertionSuccess();
  auto failure = testing::AssertionFailure();
  for (const RECT* r : {&a, &b})
    failure << (r == &b ? " is not {" : "{") << r->left << ", " << r->top << ", " << r->right << ", " << r->bottom
            << "}";
  return failure;
}

// Dispatches this thread's messages until `done` holds; the window's colour
// timer wakes the loop at least every 100 ms.
bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  MSG message;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline || !GetMessageW(&message, nullptr, 0, 0)) return done();
    DispatchMessageW(&message);
  }
  return true;
}

// The stand-in engine's monitor DPI; none restores the system's.
void setMonitorDpi(const char* dpi) {
  if (dpi)
    halvix::test::setEnvironment(HALVIX_FLUTTER_DPI_VARIABLE, dpi);
  else
    halvix::test::unsetEnvironment(HALVIX_FLUTTER_DPI_VARIABLE);
}

bool classRegistered() {
  WNDCLASSW probe{};
  probe.lpfnWndProc = DefWindowProcW;
  probe.lpszClassName = Win32Window::kWindowClassName;
  if (!RegisterClassW(&probe)) return true;
  UnregisterClassW(Win32Window::kWindowClassName, nullptr);
  return false;
}

class WindowTest : public testing::Test {
 protected:
  void SetUp() override { standIn(); }
  void TearDown() override { setMonitorDpi(nullptr); }

  flutter::DartProject project() const {
    flutter::DartProject project(L"data");
    project.set_dart_entrypoint_arguments({"--socket", socket});
    return project;
  }

  halvix::test::TempDir dir;
  std::string socket = (dir.path() / "m.sock").string();
};

TEST_F(WindowTest, CreatedScaledByTheMonitorDpiWithTheClassRegisteredWhileAWindowLives) {
  struct Case {
    const char* dpi;
    RECT expected;
  };
  const Case cases[] = {
      {nullptr, {10, 10, 1034, 778}},
      {"120", {12, 12, 1292, 972}},
      {"144", {15, 15, 1551, 1167}},
      {"not a number", {10, 10, 1034, 778}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi ? c.dpi : "unset");
    setMonitorDpi(c.dpi);
    auto first = std::make_unique<Win32Window>();
    Win32Window second;
    ASSERT_TRUE(first->CreateAndShow(L"Halvix", {10, 10}, {1024, 768}));
    ASSERT_TRUE(second.CreateAndShow(L"Second", {10, 10}, {1024, 768}));
    EXPECT_TRUE(sameRect(windowRect(first->GetHandle()), c.expected));
    EXPECT_EQ(Win32Window::LiveWindowCount(), 2);
    first.reset();
    EXPECT_TRUE(classRegistered());
    EXPECT_TRUE(IsWindow(second.GetHandle()));
    second.Destroy();
  }
  EXPECT_EQ(Win32Window::LiveWindowCount(), 0);
  EXPECT_FALSE(classRegistered());
}

TEST_F(WindowTest, HostsTheViewAndFollowsItsMessagesUntilDestroyed) {
  std::optional<FlutterWindow> window;
  window.emplace(project());
  ASSERT_TRUE(window->CreateAndShow(L"Halvix", {10, 10}, {1024, 768}));
  window->SetQuitOnClose(true);
  const HWND frame = window->GetHandle();
  const HWND view = window->controller()->view()->GetNativeWindow();
  EXPECT_EQ(GetParent(view), frame);
  EXPECT_EQ(GetFocus(), view);
  EXPECT_TRUE(sameRect(clientRect(view), clientRect(frame)));

  // The view follows a move to a monitor of another DPI; activation gives
  // it the focus back.
  RECT suggested{15, 15, 1551, 1167};
  SendMessageW(frame, WM_DPICHANGED, MAKELPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_TRUE(sameRect(windowRect(frame), suggested));
  EXPECT_TRUE(sameRect(clientRect(view), clientRect(frame)));
  SetFocus(nullptr);
  SendMessageW(frame, WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), view);

  // The Dart side is served on this thread's loop, and a font change in the
  // system reaches it on "flutter/system".
  std::atomic<bool> answered{false};
  std::atomic<bool> fontsChanged{false};
  std::atomic<bool> dartDone{false};
  std::thread dart([&] {
    struct Done {
      std::atomic<bool>& flag;
      ~Done() { flag = true; }
    } done{dartDone};
    halvix::flutter_engine::MessengerClient client(socket);
    std::vector<uint8_t> reply;
    const uint32_t id = client.send("no.such.channel", {});
    answered = client.waitReply(id, 20s, &reply) == halvix::flutter_engine::MessengerClient::Outcome::kReply;
    PostMessageW(frame, WM_FONTCHANGE, 0, 0);
    while (auto frame = client.readFrame(20s)) {
      if (frame->channel == "flutter/system" &&
          std::string(frame->payload.begin(), frame->payload.end()) == R"({"type":"fontsChange"})") {
        fontsChanged = true;
        break;
      }
    }
  });
  EXPECT_TRUE(pumpUntil([&] { return dartDone.load(); }));
  dart.join();
  EXPECT_TRUE(answered);
  EXPECT_TRUE(fontsChanged);

  // Destroying the window ends the engine (its socket goes) and quits the
  // loop; the object goes last.
  DestroyWindow(frame);
  EXPECT_EQ(window->controller(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(socket));
  EXPECT_FALSE(IsWindow(view));
  // Whatever was posted before the quit message still comes first.
  MSG message;
  for (int k = 0; k < 1000 && GetMessageW(&message, nullptr, 0, 0); ++k) DispatchMessageW(&message);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_TRUE(classRegistered());
  window.reset();
  EXPECT_EQ(Win32Window::LiveWindowCount(), 0);
  EXPECT_FALSE(classRegistered());
}

TEST_F(WindowTest, ASecondCreateAndShowTakesColourEventsAgain) {
  FlutterWindow window(project());
  ASSERT_TRUE(window.CreateAndShow(L"Halvix", {10, 10}, {1024, 768}));
  ASSERT_TRUE(window.CreateAndShow(L"Halvix", {10, 10}, {1024, 768}));
  std::uint32_t colour = 0x00030201;
  halvix::chroma::OnChromaEvent(halvix::chroma::kChromaColourEvent, &colour);
  EXPECT_EQ(window.bridge().relay().colour(), (halvix::chroma::ChromaColour{1, 2, 3}));
  window.Destroy();
}

TEST_F(WindowTest, SocketsThatDoNotStartEndTheHostBeforeAnyWindow) {
  halvix::host::HostHooks hooks;
  hooks.startSockets = [] { return 10093; };
  hooks.onWindow = [](HWND) { ADD_FAILURE() << "a window was created"; };
  testing::internal::CaptureStdout();
  EXPECT_EQ(halvix::host::runHost({}, hooks), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Windows socket initialize failed(WSAStartup): 10093\n");
}

// The engine is handed the project's paths in the system's own spelling.
TEST(DartProjectPaths, AreBelowTheProjectFolderWithTheSystemsSeparator) {
  const flutter::DartProject project(L"data");
#ifdef _WIN32
  const std::wstring separator = L"\\";
#else
  const std::wstring separator = L"/";
#endif
  EXPECT_EQ(project.assets_path(), L"data" + separator + L"flutter_assets");
  EXPECT_EQ(project.icu_data_path(), L"data" + separator + L"icudtl.dat");
  EXPECT_EQ(project.aot_library_path(), L"data" + separator + L"app.so");
}

}  // namespace
