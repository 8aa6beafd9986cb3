// The broadcast sender's console lines and its socket's life cycle, seen
// through standard error and the process's descriptor table (on Windows the
// console is a device of its own). Real datagrams go to loopback only.
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "chroma/broadcast_sender.h"
#include "tests/chroma/broadcast_sender_fixture.h"
#include "tests/support/process_stats.h"
#include "tests/support/udp_receiver.h"

namespace halvix::test {
namespace {

using chroma::BroadcastSender;
using platform::AdapterListing;
using platform::FixedNetworkAdapterSource;

TEST(BroadcastSender, AdapterListFailuresGoToTheConsole) {
  const struct {
    const char* name;
    AdapterListing listing;
    bool console;
    const char* printed;
  } cases[] = {
      {"allocation failure", AdapterListing::allocationFailed(), true,
       "Error allocating memory needed to call GetAdaptersinfo\n"},
      {"failed listing", AdapterListing::failed(122), true, "GetAdaptersInfo failed with error: 122\n"},
      {"failure without a console", AdapterListing::failed(122), false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FixedNetworkAdapterSource adapters(c.listing);
    BroadcastSender sender(adapters);
    ConsoleCapture console;
    platform::setConsolePresent(c.console);
    EXPECT_EQ("", sender.FindBroadcastAddress("192.168.1.50"));
    sender.Configure("192.168.1.50", 4242);
    EXPECT_EQ(4242, sender.port());
    EXPECT_EQ("255.255.255.255", dotted(sender.destination()));
    // Once from the direct call, once from Configure.
    EXPECT_EQ(std::string(c.printed) + c.printed, console.text());
  }
}

TEST(BroadcastSender, SocketLifeCycle) {
  UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  std::string bytes;
  sockaddr_in from{};
  ConsoleCapture console;
  const std::size_t before = openHandles();
  std::optional<BroadcastSender> sender(std::in_place, loopbackHost());

  sender->Send("before any Configure");
  EXPECT_EQ(-1, sender->socketFd());

  sender->Configure("127.0.0.1", receiver.port());
  const int first = sender->socketFd();
  ASSERT_GE(first, 0);
  sender->Configure("127.0.0.1", receiver.port());
  EXPECT_EQ(before + 1, openHandles()) << "the first socket was closed";
  EXPECT_EQ(first, sender->socketFd()) << "closed before the second was opened, which reused its number";

  const std::string binary("\x00\x01\xff payload", 11);
  for (const std::string& payload : {std::string("colour"), std::string(), binary}) {
    sender->Send(payload);
    const platform::SocketOutcome got = receiver.receive(bytes, from);
    EXPECT_EQ(payload.empty() ? platform::SocketStatus::Closed : platform::SocketStatus::Done, got.status);
    EXPECT_EQ(payload, bytes);
  }

  const sockaddr_in aimed = sender->destination();
  sender->Reset();
  EXPECT_EQ(-1, sender->socketFd());
  EXPECT_EQ(0, sender->port());
  EXPECT_EQ("", sender->address());
  const sockaddr_in kept = sender->destination();
  EXPECT_EQ(0, std::memcmp(&aimed, &kept, sizeof aimed)) << "kept until the next Configure";
  EXPECT_EQ(before, openHandles());
  sender->Send("after Reset");

  // Port 0 opens a socket but leaves the sender unconfigured; sending is
  // still tried, and the system refuses port 0.
  sender->Configure("127.0.0.1", 0);
  EXPECT_EQ(0, sender->port());
  EXPECT_GE(sender->socketFd(), 0);
  sender->Send("to port 0");

  sender->Configure("127.0.0.1", receiver.port());
  sender->Send("marker");
  ASSERT_TRUE(receiver.receive(bytes, from).done());
  EXPECT_EQ("marker", bytes) << "nothing was sent before Configure or after Reset";

  sender.reset();
  EXPECT_EQ(before, openHandles()) << "destruction closes the socket";
  EXPECT_EQ("sendto() failed:" + std::to_string(EINVAL) + "\n", console.text()) << "only the send to port 0 failed";
}

}  // namespace
}  // namespace halvix::test
