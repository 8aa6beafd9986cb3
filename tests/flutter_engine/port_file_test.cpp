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

#include "platform/flutter_engine/messenger_client.h"
#include "platform/flutter_engine/messenger_socket.h"
#include "tests/support/engine_host.h"

namespace {

using halvix::flutter_engine::MessengerClient;
using halvix::test::EngineHost;
using namespace std::chrono_literals;

std::string readAll(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void writeAll(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A loopback port that nobody listens on any more.
std::string freedPort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::address_v4::loopback(), 0});
  return std::to_string(acceptor.local_endpoint().port()) + "\n";
}

bool answers(const std::string& path) {
  MessengerClient client(path);
  uint32_t id = client.send("nobody", {1});
  return client.waitReply(id, 10s, nullptr) == MessengerClient::Outcome::kReply;
}

TEST(EngineListen, PortFileIsTakenKeptAndGivenUpLikeASocketFile) {
  EngineHost host;
  ASSERT_EQ(host.listenError(), 0);
  host.start();
  const auto& api = EngineHost::api();
  FlutterDesktopEngineRef other = nullptr;
  auto listenOther = [&](const std::string& path) {
    int error = -1;
    host.onLoop([&] {
      FlutterDesktopEngineProperties properties{};
      if (!other) other = api.FlutterDesktopEngineCreate(&properties);
      error = host.standIn().listen(other, path.c_str());
    });
    return error;
  };
  auto destroyOther = [&] { host.onLoop([&] { api.FlutterDesktopEngineDestroy(std::exchange(other, nullptr)); }); };

  std::string port = readAll(host.socketPath());
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
    EXPECT_EQ(listenOther(path.string()), EEXIST);
    EXPECT_EQ(readAll(path), file.text);
  }
  EXPECT_EQ(listenOther(host.dir().path().string()), EEXIST);
  EXPECT_EQ(listenOther(""), ENAMETOOLONG);

  // Another host listens there: its file stays and it keeps serving.
  EXPECT_EQ(listenOther(host.socketPath()), EADDRINUSE);
  EXPECT_EQ(readAll(host.socketPath()), port);
  EXPECT_TRUE(answers(host.socketPath()));

  // A file whose port nobody answers on is replaced.
  auto stale = host.dir().path() / "stale.port";
  writeAll(stale, freedPort());
  ASSERT_EQ(listenOther(stale.string()), 0);
  EXPECT_TRUE(answers(stale.string()));

  // The path was taken over meanwhile: the newcomer's file is not removed.
  std::string newcomer = freedPort();
  writeAll(stale, newcomer);
  destroyOther();
  EXPECT_EQ(readAll(stale), newcomer);

  // Its own file it removes.
  ASSERT_EQ(listenOther(stale.string()), 0);
  destroyOther();
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
