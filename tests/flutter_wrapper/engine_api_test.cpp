#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "platform/flutter/engine_api.h"
#include "tests/support/system_library.h"
#include "tests/support/temp_dir.h"

namespace {

using halvix::platform::DynamicLibrary;
using testing::HasSubstr;

std::string loadError() {
  try {
    flutter::EngineApi();
  } catch (const flutter::EngineLoadError& e) {
    return e.what();
  }
  return "(no error)";
}

// The table is filled once per process, so its whole life is one test.
TEST(EngineApi, FilledOnceFromWhatTheResolverLoadsWithClearErrorsBefore) {
  const auto standIn = halvix::platform::executablePath().parent_path() / "support.dat";
  const halvix::test::SystemLibrary& system = halvix::test::systemLibrary();
  const std::string other = DynamicLibrary::open(system.name).path().string();
  halvix::test::TempDir dir;
  const std::string absent = (dir.path() / "support.dat").string();
  struct Failure {
    const char* name;
    flutter::EngineLibraryResolver resolver;
    std::string error;
  };
  const Failure failures[] = {
      {"no resolver", nullptr, "the engine library is not loaded: no resolver is installed"},
      {"no such file", [&] { return DynamicLibrary::openPath(absent); },
       "the engine library cannot be loaded: " + system.missingFile(absent)},
      {"not the engine", [&] { return DynamicLibrary::open(system.name); },
       "the engine library lacks FlutterDesktopEngineCreate: " + system.missingSymbol(other, "FlutterDesktopEngineCreate")},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.name);
    flutter::SetEngineLibraryResolver(failure.resolver);
    EXPECT_THAT(loadError(), HasSubstr(failure.error));
  }

  flutter::SetEngineLibraryResolver([&] { return DynamicLibrary::openPath(standIn); });
  const flutter::FlutterDesktopApi& api = flutter::EngineApi();
  auto library = DynamicLibrary::openPath(standIn);
  EXPECT_EQ(reinterpret_cast<void*>(api.FlutterDesktopPluginRegistrarSetDestructionHandler),
            library.symbol("FlutterDesktopPluginRegistrarSetDestructionHandler"));

  // Filled for good: a later resolver changes nothing, the same file is
  // accepted again and another one refused.
  flutter::SetEngineLibraryResolver(nullptr);
  EXPECT_EQ(&flutter::EngineApi(), &api);
  EXPECT_NO_THROW(flutter::UseEngineLibrary(standIn));
  try {
    flutter::UseEngineLibrary(other);
    ADD_FAILURE() << "another engine library was accepted";
  } catch (const flutter::EngineLoadError& e) {
    EXPECT_THAT(e.what(), HasSubstr("already loaded from " + library.path().string()));
  }
}

}  // namespace
