// The Windows platform layer, run under Windows or Wine: Winsock outcomes on
// a loopback pair, the adapter list, libraries loaded by name, path and held
// file, the clock, the console and readable files.
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/dynamic_library.h"
#include "platform/network_adapters.h"
#include "platform/readable_file.h"
#include "platform/socket_io.h"
#include "platform/sockets_startup.h"
#include "platform/system_clock.h"

namespace halvix::test {
namespace {

using platform::SocketOutcome;
using platform::SocketStatus;
using testing::EndsWith;
using testing::HasSubstr;

namespace fs = std::filesystem;

class Winsock {
 public:
  Winsock() : error_(platform::socketsStartup()) {}
  ~Winsock() {
    if (error_ == 0) platform::socketsCleanup();
  }
  int error() const { return error_; }

 private:
  int error_;
};

int asFd(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

// A connected loopback TCP pair, both ends non-blocking.
class TcpPair {
 public:
  TcpPair() {
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    const SOCKET a = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(a, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      a_ = asFd(a);
      b_ = asFd(::accept(listener, nullptr, nullptr));
    } else {
      ::closesocket(a);
    }
    ::closesocket(listener);
    u_long on = 1;
    for (int fd : {a_, b_})
      if (fd >= 0) ::ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &on);
  }
  ~TcpPair() {
    closeA();
    closeB();
  }
  bool ok() const { return a_ >= 0 && b_ >= 0; }
  int a() const { return a_; }
  int b() const { return b_; }
  void closeA() { close(a_); }
  void closeB() { close(b_); }

 private:
  static void close(int& fd) {
    if (fd >= 0) ::closesocket(static_cast<SOCKET>(fd));
    fd = -1;
  }
  int a_ = -1;
  int b_ = -1;
};

// Polls a non-blocking receive until data arrives or a generous bound passes.
SocketOutcome receiveSoon(const std::function<SocketOutcome()>& receive) {
  SocketOutcome o;
  for (int i = 0; i < 500; ++i) {
    o = receive();
    if (o.status != SocketStatus::WouldBlock) break;
    ::Sleep(10);
  }
  return o;
}

class ShaperGuard {
 public:
  explicit ShaperGuard(platform::TransferShaper shaper) { platform::setTransferShaper(std::move(shaper)); }
  ~ShaperGuard() { platform::setTransferShaper(nullptr); }
};

TEST(Win32Sockets, EveryOutcomeIsClassifiedOnce) {
  Winsock winsock;
  ASSERT_EQ(0, winsock.error());
  struct Case {
    const char* name;
    std::function<SocketOutcome(TcpPair&)> call;
    SocketStatus status;
    std::size_t count;
    std::function<bool(int)> error;
  } cases[] = {
      {"bytes moved", [](TcpPair& p) { return platform::socketSend(p.a(), "abc", 3); }, SocketStatus::Done, 3,
       [](int e) { return e == 0; }},
      {"nothing pending",
       [](TcpPair& p) {
         char buffer[4];
         return platform::socketRecv(p.b(), buffer, sizeof buffer);
       },
       SocketStatus::WouldBlock, 0, [](int e) { return e == 0; }},
      {"peer closed",
       [](TcpPair& p) {
         p.closeA();
         char buffer[4];
         return receiveSoon([&] { return platform::socketRecv(p.b(), buffer, sizeof buffer); });
       },
       SocketStatus::Closed, 0, [](int e) { return e == 0; }},
      {"zero bytes asked of a stream", [](TcpPair& p) { return platform::socketSend(p.a(), "", 0); },
       SocketStatus::Closed, 0, [](int e) { return e == 0; }},
      {"peer gone",
       [](TcpPair& p) {
         p.closeB();
         // The first bytes draw the peer's reset; a later send meets it.
         SocketOutcome o;
         for (int i = 0; i < 500 && o.status != SocketStatus::Error; ++i, ::Sleep(10))
           o = platform::socketSend(p.a(), "x", 1);
         return o;
       },
       SocketStatus::Error, 0, [](int e) { return e == WSAECONNRESET || e == WSAECONNABORTED; }},
      {"no socket",
       [](TcpPair&) {
         char buffer[4];
         return platform::socketRecv(-1, buffer, sizeof buffer);
       },
       SocketStatus::Error, 0, [](int e) { return e == WSAENOTSOCK; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TcpPair p;
    ASSERT_TRUE(p.ok());
    const SocketOutcome o = c.call(p);
    EXPECT_EQ(c.status, o.status);
    EXPECT_EQ(c.count, o.count);
    EXPECT_TRUE(c.error(o.error)) << o.error;
    if (o.error == 0) {
      EXPECT_STREQ("Unknown error", o.errorText());
    } else {
      EXPECT_STRNE("Unknown error", o.errorText());
      EXPECT_THAT(o.errorText(), testing::Not(EndsWith("\n")));
      EXPECT_EQ(o.errorText(), platform::systemErrorText(o.error)) << "one text per number, kept";
    }
  }
}

TEST(Win32Sockets, GatheredSendAndScatteredReceiveKeepTheOrder) {
  Winsock winsock;
  TcpPair p;
  ASSERT_TRUE(p.ok());
  const platform::SendSlice out[] = {{"ab", 2}, {"", 0}, {"cdefg", 5}};
  const SocketOutcome sent = platform::socketSendGather(p.a(), out, 3);
  ASSERT_EQ(SocketStatus::Done, sent.status);
  EXPECT_EQ(7u, sent.count);
  char first[3] = {}, second[8] = {};
  const platform::RecvSlice in[] = {{first, 3}, {nullptr, 0}, {second, sizeof second}};
  const SocketOutcome got = receiveSoon([&] {
    return platform::socketPending(p.b()) == 7 ? platform::socketRecvScatter(p.b(), in, 3) : SocketOutcome{SocketStatus::WouldBlock};
  });
  ASSERT_EQ(SocketStatus::Done, got.status);
  EXPECT_EQ(7u, got.count);
  EXPECT_EQ("abc", std::string(first, 3));
  EXPECT_EQ("defg", std::string(second, 4));
  EXPECT_EQ(0, platform::socketPending(p.b()));
  EXPECT_EQ(-1, platform::socketPending(-1));
}

TEST(Win32Sockets, ShaperCutsGatheredSendsAndRefusesReceives) {
  Winsock winsock;
  TcpPair p;
  ASSERT_TRUE(p.ok());
  std::size_t allow = 3;
  ShaperGuard guard([&](int, bool, std::size_t) { return allow; });
  const platform::SendSlice out[] = {{"ab", 2}, {"cd", 2}};
  EXPECT_EQ(3u, platform::socketSendGather(p.a(), out, 2).count);
  allow = 0;
  char buffer[8];
  const platform::RecvSlice in[] = {{buffer, sizeof buffer}};
  EXPECT_EQ(SocketStatus::WouldBlock, platform::socketRecvScatter(p.b(), in, 1).status);
  allow = 100;
  const SocketOutcome got = receiveSoon([&] { return platform::socketRecv(p.b(), buffer, sizeof buffer); });
  ASSERT_EQ(3u, got.count);
  EXPECT_EQ("abc", std::string(buffer, 3));
}

int broadcastOption(int fd) {
  BOOL value = -1;
  int length = sizeof value;
  return ::getsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&value), &length) == 0
             ? (value ? 1 : 0)
             : -1;
}

TEST(Win32Sockets, DatagramsReachALoopbackReceiverWhole) {
  Winsock winsock;
  platform::DatagramSocket receiver;
  ASSERT_TRUE(receiver.isOpen()) << receiver.creationError();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(0, ::bind(static_cast<SOCKET>(receiver.fd()), reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, ::getsockname(static_cast<SOCKET>(receiver.fd()), reinterpret_cast<sockaddr*>(&address), &length));
  u_long on = 1;
  ::ioctlsocket(static_cast<SOCKET>(receiver.fd()), FIONBIO, &on);

  platform::DatagramSocket sender;
  for (const auto& [flag, option] : {std::pair{1, 1}, {0, 0}, {0xFF, 1}, {2, 1}}) {
    EXPECT_EQ(0, sender.setBroadcast(static_cast<std::uint8_t>(flag)));
    EXPECT_EQ(option, broadcastOption(sender.fd())) << flag;
  }
  const std::string payload(1400, 'p');
  for (const std::string& datagram : {payload, std::string("x")}) {
    const SocketOutcome sent = sender.sendTo(datagram.data(), datagram.size(), address);
    EXPECT_EQ(SocketStatus::Done, sent.status);
    EXPECT_EQ(datagram.size(), sent.count);
  }
  char buffer[2048];
  sockaddr_in from{};
  SocketOutcome got =
      receiveSoon([&] { return platform::socketRecvFrom(receiver.fd(), buffer, sizeof buffer, from); });
  ASSERT_EQ(SocketStatus::Done, got.status);
  EXPECT_EQ(payload, std::string(buffer, got.count));
  EXPECT_EQ(htonl(INADDR_LOOPBACK), from.sin_addr.s_addr);
  EXPECT_NE(0, from.sin_port);
  got = receiveSoon([&] { return platform::socketRecvFrom(receiver.fd(), buffer, sizeof buffer, from); });
  ASSERT_EQ(1u, got.count);
  EXPECT_EQ('x', buffer[0]);

  const SocketOutcome empty = sender.sendTo("", 0, address);
  EXPECT_EQ(SocketStatus::Done, empty.status) << "an empty datagram is sent, not closed";
  EXPECT_EQ(0u, empty.count);

  platform::DatagramSocket moved(std::move(sender));
  EXPECT_FALSE(sender.isOpen());
  const SocketOutcome unusable = sender.sendTo("x", 1, address);
  EXPECT_EQ(SocketStatus::Error, unusable.status);
  EXPECT_EQ(WSAENOTSOCK, unusable.error);
  const int fd = moved.fd();
  moved.close();
  EXPECT_EQ(-1, broadcastOption(fd)) << "closed with its owner";
}

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
