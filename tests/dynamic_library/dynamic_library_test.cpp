#include <filesystem>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "tests/support/system_library.h"
#include "tests/support/temp_dir.h"

namespace {

using halvix::platform::DynamicLibrary;
using testing::HasSubstr;

const std::filesystem::path kStandIn = halvix::platform::executablePath().parent_path() / "support.dat";
const halvix::test::SystemLibrary& kSystem = halvix::test::systemLibrary();

TEST(DynamicLibrary, OpensByPathAndByNameBesideTheExecutableFirst) {
  DynamicLibrary libraries[] = {DynamicLibrary::openPath(kStandIn), DynamicLibrary::open("support.dat"),
                                DynamicLibrary::open(kSystem.name)};
  const std::string symbols[] = {"FlutterDesktopEngineCreate", "HalvixFlutterEngineListen", kSystem.function};
  for (size_t i = 0; i < std::size(libraries); ++i) {
    auto& library = libraries[i];
    SCOPED_TRACE(symbols[i]);
    ASSERT_TRUE(library) << library.error();
    EXPECT_NE(library.symbol(symbols[i].c_str()), nullptr);
    EXPECT_EQ(library.error(), "");
    EXPECT_TRUE(library.path().is_absolute());
    EXPECT_EQ(std::filesystem::equivalent(library.path(), kStandIn), i < 2) << library.path();
  }
}

TEST(DynamicLibrary, FailuresLeaveItClosedWithAClearError) {
  halvix::test::TempDir dir;
  struct Case {
    const char* name;
    DynamicLibrary library;
    std::string error;
  };
  Case cases[] = {
      {"missing file", DynamicLibrary::openPath(dir.path() / "absent.dat"),
       kSystem.missingFile((dir.path() / "absent.dat").string())},
      {"not a library", DynamicLibrary::openPath(dir.write("text.dat", "no library here")),
       (dir.path() / "text.dat").string() + ": "},
      {"unknown name", DynamicLibrary::open(kSystem.unknownName), kSystem.missingFile(kSystem.unknownName)},
      {"a path for a name", DynamicLibrary::open("bin/support.dat"), "not a bare library name: \"bin/support.dat\""},
      {"empty path", DynamicLibrary::openPath(""), "not a usable library path"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.library);
    EXPECT_THAT(c.library.error(), HasSubstr(c.error));
    EXPECT_EQ(c.library.path(), std::filesystem::path());
    EXPECT_EQ(c.library.symbol(kSystem.function.c_str()), nullptr);
    EXPECT_EQ(c.library.error(), "no library is open to look up " + kSystem.function);
  }
}

TEST(DynamicLibrary, MissingSymbolIsNamedAndTheLibraryStaysUsable) {
  auto library = DynamicLibrary::openPath(kStandIn);
  ASSERT_TRUE(library) << library.error();
  EXPECT_EQ(library.symbol("FlutterDesktopNoSuchFunction"), nullptr);
  EXPECT_THAT(library.error(), HasSubstr("FlutterDesktopNoSuchFunction"));
  EXPECT_NE(library.symbol("FlutterDesktopEngineCreate"), nullptr);
  EXPECT_EQ(library.error(), "");

  DynamicLibrary moved = std::move(library);
  EXPECT_FALSE(library);
  EXPECT_TRUE(moved);
  moved.close();
  EXPECT_FALSE(moved);
  EXPECT_EQ(moved.path(), std::filesystem::path());
}

}  // namespace
