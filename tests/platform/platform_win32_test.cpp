// The Windows platform layer, run under Windows or Wine: the adapter list,
// libraries loaded by name, path and held file, the clock, the console and
// readable files. The socket layer has its own suite on both systems.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/dynamic_library.h"
#include "platform/network_adapters.h"
#include "platform/readable_file.h"
#include "platform/system_clock.h"

namespace halvix::test {
namespace {

using testing::HasSubstr;

namespace fs = std::filesystem;

bool isDotted(const std::string& text) {
  sockaddr_in parsed{};
  return ::inet_pton(AF_INET, text.c_str(), &parsed.sin_addr) == 1;
}

TEST(Win32Adapters, SystemListWalksEveryAdapter) {
  const platform::AdapterListing listing = platform::systemNetworkAdapters().list();
  // A machine without adapters answers ERROR_NO_DATA.
  if (listing.status == platform::AdapterListing::Status::Failed) {
    EXPECT_EQ(ERROR_NO_DATA, listing.error);
    return;
  }
  ASSERT_EQ(platform::AdapterListing::Status::Listed, listing.status);
  for (const platform::NetworkAdapter& a : listing.adapters) {
    std::printf("adapter type %d %s / %s\n", a.type, a.address.c_str(), a.mask.c_str());
    EXPECT_GT(a.type, 0);
    EXPECT_TRUE(isDotted(a.address)) << a.address;
    EXPECT_TRUE(isDotted(a.mask)) << a.mask;
  }
}

fs::path probeLibrary() { return platform::executablePath().parent_path() / "platform_probe.dll"; }

TEST(Win32Libraries, OpenByNameAndPathWithSymbolsAndPaths) {
  const fs::path exe = platform::executablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(fs::is_regular_file(exe));

  platform::DynamicLibrary byName = platform::DynamicLibrary::open("platform_probe.dll");
  ASSERT_TRUE(byName) << byName.error() << " (the probe library sits beside the executable)";
  EXPECT_TRUE(fs::equivalent(probeLibrary(), byName.path()));
  const auto answer = byName.function<int (*)()>("halvixProbeAnswer");
  ASSERT_NE(nullptr, answer);
  EXPECT_EQ(42, answer());
  EXPECT_EQ(nullptr, byName.symbol("halvixNoSuchExport"));
  EXPECT_THAT(byName.error(), HasSubstr("halvixNoSuchExport"));
  EXPECT_NE(nullptr, byName.symbol("halvixProbeAnswer")) << "still usable after a failed lookup";
  EXPECT_EQ("", byName.error());
  byName.close();
  EXPECT_FALSE(byName);
  EXPECT_TRUE(byName.path().empty());

  platform::DynamicLibrary system = platform::DynamicLibrary::open("kernel32.dll");
  ASSERT_TRUE(system) << system.error();
  EXPECT_NE(nullptr, system.symbol("GetTickCount"));
}

TEST(Win32Libraries, FailuresLeaveItClosedWithTheSystemsText) {
  const std::string missing = "halvix_no_such_library.dll";
  const struct {
    const char* name;
    platform::DynamicLibrary library;
    std::string error;
  } cases[] = {
      {"missing by name", platform::DynamicLibrary::open(missing), missing + ": cannot be loaded: "},
      {"path as name", platform::DynamicLibrary::open("sub\\x.dll"), "not a bare library name"},
      {"drive as name", platform::DynamicLibrary::open("C:x.dll"), "not a bare library name"},
      {"empty path", platform::DynamicLibrary::openPath(""), "not a usable library path"},
      {"missing by path", platform::DynamicLibrary::openPath(fs::path("C:/nowhere") / missing), "cannot be loaded: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.library);
    EXPECT_THAT(c.library.error(), HasSubstr(c.error));
  }
  // The loader's own words follow the name: not a bare "cannot be loaded".
  EXPECT_GT(cases[0].library.error().size(), cases[0].error.size());
}

TEST(Win32Libraries, HeldFileIsTheOneThatLoadsAndCannotChangeMeanwhile) {
  const fs::path folder = fs::temp_directory_path() / ("halvix-platform-" + std::to_string(::GetCurrentProcessId()));
  fs::create_directories(folder);
  const fs::path copy = folder / "held_probe.dll";
  fs::copy_file(probeLibrary(), copy, fs::copy_options::overwrite_existing);
  {
    std::optional<platform::LibraryFile> file = platform::LibraryFile::read(copy, std::size_t{64} << 20);
    ASSERT_TRUE(file);
    EXPECT_EQ(fs::file_size(copy), file->bytes().size());
    EXPECT_EQ("MZ", file->bytes().substr(0, 2));

    const HANDLE writer = ::CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer) << "writing is refused while held";
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    EXPECT_FALSE(::DeleteFileW(copy.c_str())) << "deleting is refused while held";
    EXPECT_FALSE(::MoveFileW(copy.c_str(), (folder / "moved.dll").c_str())) << "renaming is refused while held";

    platform::LibraryFile moved = std::move(*file);
    platform::DynamicLibrary library = platform::DynamicLibrary::openFile(moved);
    ASSERT_TRUE(library) << library.error();
    EXPECT_TRUE(fs::equivalent(copy, library.path()));
    const auto answer = library.function<int (*)()>("halvixProbeAnswer");
    ASSERT_NE(nullptr, answer);
    EXPECT_EQ(42, answer());
    EXPECT_THAT(platform::DynamicLibrary::openFile(*file).error(), HasSubstr("no library file is open"));
  }
  const struct {
    const char* name;
    fs::path path;
    std::size_t limit;
  } refused[] = {
      {"missing", folder / "absent.dll", 1 << 20},
      {"folder", folder, 1 << 20},
      {"longer than the limit", probeLibrary(), 16},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.name);
    EXPECT_FALSE(platform::LibraryFile::read(r.path, r.limit));
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(Win32Libraries, SearchFollowsTheLoadersOrder) {
  const platform::LibrarySearch search =
      platform::LibrarySearch::ordinary("C:\\app", "C:\\one;;\"C:\\two words\";C:\\three");
  wchar_t system[MAX_PATH + 1], windows[MAX_PATH + 1];
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH + 1), 0u);
  ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH + 1), 0u);
  const std::vector<fs::path> expected = {
      "C:\\app", system, fs::path(windows) / "System", windows, ".", "C:\\one", "C:\\two words", "C:\\three"};
  EXPECT_EQ(expected, search.folders);

  const fs::path kernel = platform::findLibrary("kernel32.dll", platform::LibrarySearch::forProcess());
  ASSERT_FALSE(kernel.empty());
  EXPECT_TRUE(fs::equivalent(fs::path(system) / "kernel32.dll", kernel));
  EXPECT_TRUE(platform::findLibrary("platform_probe.dll", platform::LibrarySearch::forProcess()).is_absolute());
  for (const char* name : {"", "sub/kernel32.dll", "sub\\kernel32.dll", "C:kernel32.dll", "halvix_absent.dll"})
    EXPECT_TRUE(platform::findLibrary(name, platform::LibrarySearch::forProcess()).empty()) << name;
}

TEST(Win32Clock, FileTimeAgreesWithTheCalendarClock) {
  const std::time_t before = std::time(nullptr);
  const std::uint64_t now = platform::fileTimeNow();
  const std::time_t after = std::time(nullptr);
  const std::int64_t unixSeconds = static_cast<std::int64_t>(now / 10000000ULL) - 11644473600LL;
  EXPECT_GE(unixSeconds, static_cast<std::int64_t>(before) - 1);
  EXPECT_LE(unixSeconds, static_cast<std::int64_t>(after) + 1);
  EXPECT_NE(0u, now % 10000000ULL + platform::fileTimeNow() % 10000000ULL) << "finer than whole seconds";
}

// The console's screen buffer shows what was written; Wine's console on a
// terminal keeps no screen buffer (its cursor stays put), so there the
// text is only seen on the terminal.
TEST(Win32Console, WritesReachTheConsoleOnlyWhenPresent) {
  const HANDLE out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  // Attached to the console the test runs in; with none at hand (output in
  // a pipe under Wine) the console counts as absent.
  EXPECT_EQ(out != INVALID_HANDLE_VALUE, platform::openConsole() != platform::ConsoleOpened::kNone);
  EXPECT_EQ(out != INVALID_HANDLE_VALUE, platform::consolePresent());
  if (out == INVALID_HANDLE_VALUE) return;
  const auto column = [out] {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    return ::GetConsoleScreenBufferInfo(out, &info) ? info.dwCursorPosition.X : -1;
  };
  platform::consoleWrite("\n", 1);
  const SHORT start = column();
  platform::setConsolePresent(false);
  platform::consoleWrite("dropped", 7);
  const SHORT afterDropped = column();
  platform::setConsolePresent(true);
  const std::string text = "console \xC3\xA9t\xC3\xA9";  // "console été": 11 characters, 13 bytes
  platform::consoleWrite(text.data(), text.size());
  const SHORT afterText = column();
  platform::consoleWrite("\n", 1);
  ::CloseHandle(out);
  platform::setConsolePresent(false);
  EXPECT_FALSE(platform::debuggerAttached());
  if (start == afterText) GTEST_SKIP() << "this console keeps no screen buffer";
  EXPECT_EQ(start, afterDropped) << "nothing written without a console";
  EXPECT_EQ(start + 11, afterText) << "UTF-8 written as characters";
}

TEST(Win32ReadableFile, OnlyRegularFilesCount) {
  const fs::path folder = fs::temp_directory_path() / ("halvix-readable-" + std::to_string(::GetCurrentProcessId()));
  fs::create_directories(folder);
  const fs::path named = folder / fs::path(u8"caf\u00e9.lsd");
  std::ofstream(named) << "x";
  const struct {
    std::string path;
    bool readable;
  } cases[] = {
      {(folder / "plain.txt").string(), false},
      {reinterpret_cast<const char*>(named.u8string().c_str()), true},
      {reinterpret_cast<const char*>(folder.u8string().c_str()), false},
      {"NUL", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.readable, platform::isReadableFile(c.path)) << c.path;
  std::ofstream(folder / "plain.txt") << "x";
  EXPECT_TRUE(platform::isReadableFile((folder / "plain.txt").string()));
  EXPECT_TRUE(platform::isReadableFile(reinterpret_cast<const char*>((folder / "plain.txt").generic_u8string().c_str())))
      << "forward slashes";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
}  // namespace halvix::test
