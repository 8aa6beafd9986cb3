// Where the messenger socket lives and who may take its path.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "standins/flutter_engine/messenger_client.h"
#include "standins/flutter_engine/messenger_unix_socket.h"
#include "tests/flutter_engine/engine_fixture.h"

namespace {

using halvix::flutter_engine::MessengerClient;
using halvix::flutter_engine::messengerSocketAddress;
using halvix::flutter_engine::messengerSocketLocation;
using halvix::flutter_engine::prepareMessengerSocketFolder;
using halvix::test::answers;
using halvix::test::EngineHost;
using halvix::test::OtherEngine;
using testing::HasSubstr;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const uid_t kOtherUser = 65534;

// A socket file at `path` as a host leaves it: bound, and listening until
// the descriptor is closed (a negative one means it is already closed).
int bindSocket(const std::string& path, bool listening) {
  auto address = messengerSocketAddress(path);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address), 0);
  if (listening) {
    EXPECT_EQ(::listen(fd, 4), 0);
    return fd;
  }
  ::close(fd);
  return -1;
}

TEST(MessengerSocketFolder, DefaultFolderIsPrivateAndTheUsersOwn) {
  halvix::test::TempDir temp;
  const std::string own = std::to_string(::geteuid());
  auto fallback = messengerSocketLocation(nullptr, temp.path().string());
  EXPECT_EQ(fallback.path, temp.path().string() + "/halvix-" + own + "/messenger.sock");
  EXPECT_TRUE(fallback.privateFolder);
  EXPECT_EQ(messengerSocketLocation("", temp.path().string()).path, fallback.path);
  auto runtime = messengerSocketLocation("/run/user/7", "/tmp");
  EXPECT_EQ(runtime.path, "/run/user/7/halvix-messenger.sock");
  EXPECT_FALSE(runtime.privateFolder);

  const fs::path folder = fallback.folder;
  struct Case {
    const char* name;
    std::function<void()> setUp;
    bool inRuntimeDir;
    const char* problem;  // empty when the folder is fit
    bool needsRoot;
  };
  const Case cases[] = {
      {"missing: created", [] {}, false, "", false},
      {"already there", [&] { fs::create_directory(folder); ::chmod(folder.c_str(), 0700); }, false, "", false},
      {"open to the group", [&] { fs::create_directory(folder); ::chmod(folder.c_str(), 0750); }, false,
       "is open to other users (mode 0750)", false},
      {"a plain file", [&] { temp.write(folder.filename(), "x"); }, false, "is not a directory", false},
      {"a link to a private folder",
       [&] {
         fs::create_directory(temp.path() / "elsewhere");
         ::chmod((temp.path() / "elsewhere").c_str(), 0700);
         fs::create_directory_symlink(temp.path() / "elsewhere", folder);
       },
       false, "is not a directory", false},
      {"made first by another user",
       [&] {
         fs::create_directory(folder);
         ::chmod(folder.c_str(), 0700);
         ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0);
       },
       false, "belongs to uid 65534, not to you", true},
      {"runtime folder of the user, any mode", [&] { fs::create_directory(folder); ::chmod(folder.c_str(), 0755); },
       true, "", false},
      {"runtime folder of another user",
       [&] {
         fs::create_directory(folder);
         ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0);
       },
       true, "belongs to uid 65534, not to you", true},
      {"runtime folder missing", [] {}, true, "cannot use the socket folder", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && ::geteuid() != 0) continue;  // only root can give a folder away
    fs::remove_all(folder);
    fs::remove_all(temp.path() / "elsewhere");
    c.setUp();
    auto location = c.inRuntimeDir ? messengerSocketLocation(folder.c_str(), "/unused") : fallback;
    std::string problem = prepareMessengerSocketFolder(location);
    if (*c.problem == '\0') {
      EXPECT_EQ(problem, "");
      struct stat st {};
      ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      if (!c.inRuntimeDir) {
        EXPECT_EQ(st.st_mode & 0777, 0700u);
      }
    } else {
      EXPECT_THAT(problem, HasSubstr(c.problem));
      EXPECT_THAT(problem, HasSubstr(folder.string()));
    }
  }
}

TEST(EngineListen, TakesOnlyAFreePathAndRemovesOnlyItsOwnSocket) {
  EngineHost host;
  ASSERT_EQ(host.listenError(), 0);
  host.start();
  OtherEngine other(host);

  auto plain = host.dir().write("plain", "x");
  EXPECT_EQ(host.standIn().listen(host.engine(), plain.c_str()), EBUSY);  // one socket per engine
  EXPECT_EQ(other.listen(plain), EEXIST);
  EXPECT_EQ(other.listen(std::string(200, 'a')), ENAMETOOLONG);

  // Another host listens there: its socket stays and keeps serving.
  EXPECT_EQ(other.listen(host.socketPath()), EADDRINUSE);
  EXPECT_TRUE(answers(host.socketPath()));

  // A socket nobody listens on any more is replaced.
  std::string stale = (host.dir().path() / "stale.sock").string();
  bindSocket(stale, false);
  ASSERT_EQ(other.listen(stale), 0);
  EXPECT_TRUE(answers(stale));

  // The path was taken over meanwhile: the newcomer's socket is not removed.
  ASSERT_EQ(::unlink(stale.c_str()), 0);
  int newcomer = bindSocket(stale, true);
  other.destroy();
  EXPECT_EQ(::access(stale.c_str(), F_OK), 0);
  ::close(newcomer);

  // Its own socket it removes.
  ASSERT_EQ(::unlink(stale.c_str()), 0);
  ASSERT_EQ(other.listen(stale), 0);
  other.destroy();
  EXPECT_NE(::access(stale.c_str(), F_OK), 0);
}

}  // namespace
