#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "tests/support/system_library.h"
#include "tests/support/temp_dir.h"

namespace {

using halvix::platform::DynamicLibrary;
using halvix::platform::LibraryFile;
using testing::HasSubstr;

const std::filesystem::path kStandIn = halvix::platform::executablePath().parent_path() / "support.dat";
const std::filesystem::path kChromaStandIn = HALVIX_CHROMA_STANDIN;
const halvix::test::SystemLibrary& kSystem = halvix::test::systemLibrary();
constexpr std::size_t kLimit = std::size_t{64} << 20;

DynamicLibrary openRead(const std::filesystem::path& path) {
  const std::optional<LibraryFile> file = LibraryFile::read(path, kLimit);
  return file ? DynamicLibrary::openFile(*file) : DynamicLibrary::failed("unreadable: " + path.string());
}

#ifndef _WIN32
// The number the next descriptor opened gets.
int nextDescriptor() {
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
  return fd;
}

// Loads the Chroma stand-in through the /proc name of descriptor `number`,
// to stay after closing, and closes the descriptor: its number is free
// again while a loaded object is named by it.
bool leaveStaleName(int number) {
  const int fd = ::open(kChromaStandIn.c_str(), O_RDONLY | O_CLOEXEC);
  void* stale = fd == number ? ::dlopen(("/proc/self/fd/" + std::to_string(number)).c_str(), RTLD_NOW | RTLD_NODELETE)
                             : nullptr;
  if (stale) ::dlclose(stale);
  if (fd >= 0) ::close(fd);
  return stale != nullptr;
}
#endif

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

namespace {

// Loading a file's bytes gives that file's library, never one loaded before
// under the same descriptor number: the Chroma stand-in first, then the
// engine stand-in, which alone has FlutterDesktopEngineCreate.
TEST(DynamicLibrary, EachFileLoadedIsTheLibraryThatWasRead) {
  enum class Before { OtherStillLoaded, OtherClosed, StaleNameOfTheNextNumber };
  const struct {
    const char* name;
    Before before;
  } cases[] = {
      {"another loaded before, still loaded", Before::OtherStillLoaded},
      {"another loaded before, closed", Before::OtherClosed},
#ifndef _WIN32
      {"the next number names a library that stayed", Before::StaleNameOfTheNextNumber},
#endif
  };
  // Its dependency lies beside it, where a copy loaded from memory cannot
  // look: loaded first by path.
  const DynamicLibrary dependencies = DynamicLibrary::openPath(kStandIn);
  ASSERT_TRUE(dependencies) << dependencies.error();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DynamicLibrary other;
    if (c.before != Before::StaleNameOfTheNextNumber) {
      other = openRead(kChromaStandIn);
      ASSERT_TRUE(other) << other.error();
      ASSERT_NE(other.symbol("Init"), nullptr);
      if (c.before == Before::OtherClosed) other.close();
    }
#ifndef _WIN32
    else {
      ASSERT_TRUE(leaveStaleName(nextDescriptor()));
    }
#endif
    DynamicLibrary library = openRead(kStandIn);
    ASSERT_TRUE(library) << library.error();
    EXPECT_NE(library.symbol("FlutterDesktopEngineCreate"), nullptr);
    EXPECT_EQ(library.symbol("Init"), nullptr);
  }
}

}  // namespace
