// The engine import on Windows: the delay-load hook, and the first engine
// call loading "support.dat", else "flutter_windows.dll", else ending the
// process (each whole-process case in a child of its own).
#include <windows.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "host/engine_load_hook_win32.h"
#include "host/engine_loading.h"
#include "platform/dynamic_library.h"
#include "platform/flutter/engine_api.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr UINT kProbeAnswer = 4321;

fs::path probe() { return halvix::platform::executablePath().parent_path() / "engine_probe.dll"; }

fs::path modulePath(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

// The hook looks beside the module the entry point names; here that is a
// copy of the probe in a folder of the test's own.
class EngineLoadHook : public testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(probe(), dir_.path() / "anchor.dll");
    anchor_ = LoadLibraryW((dir_.path() / "anchor.dll").wstring().c_str());
    ASSERT_NE(anchor_, nullptr);
    halvix::host::setModuleInstance(anchor_);
  }
  void TearDown() override {
    halvix::host::setModuleInstance(nullptr);
    if (anchor_) FreeLibrary(anchor_);
  }

  void ship(const fs::path& source) { fs::copy_file(source, dir_.path() / "support.dat"); }

  halvix::test::TempDir dir_;
  HMODULE anchor_ = nullptr;
};

TEST_F(EngineLoadHook, AnswersOnlyTheEngineLoadWithTheShippedFile) {
  ship(probe());
  struct Case {
    unsigned notification;
    const char* name;
    bool loads;
  } cases[] = {
      {dliNotePreLoadLibrary, "flutter_windows.dll", true},
      {dliNotePreLoadLibrary, "FLUTTER_Windows.DLL", true},
      {dliNotePreGetProcAddress, "flutter_windows.dll", false},
      {dliStartProcessing, "flutter_windows.dll", false},
      {dliFailLoadLib, "flutter_windows.dll", false},
      {dliNotePreLoadLibrary, "user32.dll", false},
      {dliNotePreLoadLibrary, "flutter_windows", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DelayLoadInfo info{};
    info.cb = sizeof info;
    info.szDll = c.name;
    auto module = reinterpret_cast<HMODULE>(halvix::host::engineLoadHook(c.notification, &info));
    if (!c.loads) {
      EXPECT_EQ(module, nullptr);
      continue;
    }
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(fs::equivalent(modulePath(module), dir_.path() / "support.dat"));
    FreeLibrary(module);
  }
  EXPECT_EQ(halvix::host::engineLoadHook(dliNotePreLoadLibrary, nullptr), nullptr);
}

TEST_F(EngineLoadHook, LeavesTheSearchToTheRuntimeWithoutALoadableShippedFile) {
  DelayLoadInfo info{};
  info.cb = sizeof info;
  info.szDll = "flutter_windows.dll";
  EXPECT_EQ(halvix::host::engineLoadHook(dliNotePreLoadLibrary, &info), nullptr) << "no support.dat";
  halvix::test::TempDir other;
  ship(other.write("garbage", "not a library"));
  EXPECT_EQ(halvix::host::engineLoadHook(dliNotePreLoadLibrary, &info), nullptr) << "support.dat not a library";
}

// The first engine call through the imported table, in a child process: it
// exits with what the engine answered.
[[noreturn]] void callTheEngineAndExit(HMODULE anchor, const fs::path& searchFolder) {
  // The failing case ends in an unhandled exception: no crash dialog, which
  // nobody would close under a test display.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  halvix::host::setModuleInstance(anchor);
  if (!searchFolder.empty()) SetDllDirectoryW(searchFolder.wstring().c_str());
  halvix::host::installEngineLoading();
  const UINT dpi = flutter::EngineApi().FlutterDesktopGetDpiForMonitor(nullptr);
  std::exit(dpi == kProbeAnswer ? 0 : 1);
}

TEST_F(EngineLoadHook, FirstEngineCallLoadsTheShippedFileElseTheUsualName) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  halvix::test::TempDir searched;
  fs::copy_file(probe(), searched.path() / "flutter_windows.dll");
  // Only "flutter_windows.dll", on the search path.
  EXPECT_EXIT(callTheEngineAndExit(anchor_, searched.path()), testing::ExitedWithCode(0), "");
  // Neither: the delay-load runtime's failure ends the process.
  EXPECT_EXIT(callTheEngineAndExit(anchor_, {}), [](int status) { return status != 0 && status != 1; }, "");
  // support.dat beside the module, nothing on the search path.
  ship(probe());
  EXPECT_EXIT(callTheEngineAndExit(anchor_, {}), testing::ExitedWithCode(0), "");
}

}  // namespace
