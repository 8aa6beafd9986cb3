// The messenger on Windows: a port file names the loopback port the engine
// listens on, and a path is taken, kept or given up by the same rules as a
// socket file elsewhere.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include "standins/flutter_engine/messenger_client.h"
#include "standins/flutter_engine/messenger_socket.h"
#include "tests/flutter_engine/engine_fixture.h"
#include "tests/support/host_process.h"

namespace {

using halvix::flutter_engine::MessengerClient;
using halvix::test::answers;
using halvix::test::EngineHost;
using halvix::test::OtherEngine;
using halvix::test::readWholeFile;
using namespace std::chrono_literals;

void writeAll(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A loopback port that nobody listens on any more.
std::string freedPort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::address_v4::loopback(), 0});
  return std::to_string(acceptor.local_endpoint().port()) + "\n";
}

TEST(EngineListen, PortFileIsTakenKeptAndGivenUpLikeASocketFile) {
  EngineHost host;
  ASSERT_EQ(host.listenError(), 0);
  host.start();
  OtherEngine other(host);

  std::string port = readWholeFile(host.socketPath());
  EXPECT_GT(std::stoi(port), 0);
  EXPECT_EQ(port.back(), '\n');
  EXPECT_TRUE(answers(host.socketPath()));

  const struct {
    const char* name;
    std::string text;
  } foreign[] = {{"not a port", "x"}, {"port out of range", "70000\n"}, {"trailing text", "4000 x"}};
  for (const auto& file : foreign) {
    SCOPED_TRACE(file.name);
    auto path = host.dir().write(file.name, file.text);
    EXPECT_EQ(other.listen(path.string()), EEXIST);
    EXPECT_EQ(readWholeFile(path), file.text);
  }
  EXPECT_EQ(other.listen(host.dir().path().string()), EEXIST);
  EXPECT_EQ(other.listen(""), ENAMETOOLONG);

  // Another host listens there: its file stays and it keeps serving.
  EXPECT_EQ(other.listen(host.socketPath()), EADDRINUSE);
  EXPECT_EQ(readWholeFile(host.socketPath()), port);
  EXPECT_TRUE(answers(host.socketPath()));

  // A file whose port nobody answers on is replaced.
  auto stale = host.dir().path() / "stale.port";
  writeAll(stale, freedPort());
  ASSERT_EQ(other.listen(stale.string()), 0);
  EXPECT_TRUE(answers(stale.string()));

  // The path was taken over meanwhile: the newcomer's file is not removed.
  std::string newcomer = freedPort();
  writeAll(stale, newcomer);
  other.destroy();
  EXPECT_EQ(readWholeFile(stale), newcomer);

  // Its own file it removes.
  ASSERT_EQ(other.listen(stale.string()), 0);
  other.destroy();
  EXPECT_FALSE(std::filesystem::exists(stale));
}

TEST(MessengerClient, NamesWhatItCannotReach) {
  halvix::test::TempDir dir;
  const struct {
    std::filesystem::path path;
    const char* error;
  } cases[] = {
      {dir.path() / "absent.port", "connect "},
      {dir.write("garbage.port", "port"), "does not hold a messenger port"},
      {dir.write("closed.port", freedPort()), "connect "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    try {
      MessengerClient client(c.path.string());
      ADD_FAILURE() << "connected";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
    }
  }
}

TEST(MessengerSocketLocation, DefaultsToAFolderOfTheUsersLocalDataMadeWhenMissing) {
  using halvix::flutter_engine::prepareMessengerSocketFolder;
  auto location = halvix::flutter_engine::defaultMessengerSocketLocation();
  const char* local = std::getenv("LOCALAPPDATA");
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(std::filesystem::path(location.folder), std::filesystem::path(local) / "Halvix");
  EXPECT_EQ(std::filesystem::path(location.path), std::filesystem::path(location.folder) / "messenger.port");
  EXPECT_TRUE(location.privateFolder);

  halvix::test::TempDir dir;
  auto folder = dir.path() / "Halvix";
  EXPECT_EQ(prepareMessengerSocketFolder({(folder / "messenger.port").string(), folder.string(), true}), "");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  auto file = dir.write("file", "x");
  EXPECT_NE(prepareMessengerSocketFolder({(file / "messenger.port").string(), file.string(), false})
                .find("the socket folder " + file.string() + " is not a directory"),
            std::string::npos);
}

}  // namespace
