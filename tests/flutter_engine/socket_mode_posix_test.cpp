// The socket's mode is set without going through its path: a link that
// another user renames into place right after bind is neither followed nor
// served.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "standins/flutter_engine/messenger_endpoint.h"
#include "tests/support/temp_dir.h"

namespace {
// Set by the test: after the next successful bind, the path is replaced by
// a link to this file.
std::string g_swapInLinkTo;
}  // namespace

extern "C" int bind(int fd, const sockaddr* address, socklen_t length) {
  using Bind = int (*)(int, const sockaddr*, socklen_t);
  static const Bind real = reinterpret_cast<Bind>(dlsym(RTLD_NEXT, "bind"));
  const int result = real(fd, address, length);
  if (result == 0 && address->sa_family == AF_UNIX && !g_swapInLinkTo.empty()) {
    const std::string path = reinterpret_cast<const sockaddr_un*>(address)->sun_path;
    const std::string link = path + ".planted";
    if (::symlink(g_swapInLinkTo.c_str(), link.c_str()) == 0) ::rename(link.c_str(), path.c_str());
    g_swapInLinkTo.clear();
  }
  return result;
}

namespace {

namespace fs = std::filesystem;

TEST(MessengerSocketMode, ALinkSwappedInAfterBindIsNotFollowed) {
  halvix::test::TempDir dir;
  const fs::path victim = dir.path() / "victim";
  std::ofstream(victim) << "another user's file";
  fs::permissions(victim, fs::perms(0644));

  boost::asio::io_context io;
  halvix::flutter_engine::MessengerEndpoint::Acceptor acceptor(io);
  {
    halvix::flutter_engine::MessengerEndpoint endpoint((dir.path() / "m.sock").string());
    g_swapInLinkTo = victim.string();
    EXPECT_EQ(endpoint.open(acceptor), EPERM);
  }
  EXPECT_EQ(fs::status(victim).permissions(), fs::perms(0644));
  // The planted link is not the endpoint's to remove.
  EXPECT_TRUE(fs::is_symlink(dir.path() / "m.sock"));
}

}  // namespace
