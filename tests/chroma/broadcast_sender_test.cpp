// The broadcast sender against adapter lists handed to it: which destination
// an address gets, and its operations against each other across threads.
// Real datagrams go to loopback only.
#include "chroma/broadcast_sender.h"

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/chroma/broadcast_sender_fixture.h"
#include "tests/support/process_stats.h"
#include "tests/support/udp_receiver.h"

namespace halvix::test {
namespace {

using chroma::BroadcastSender;
using platform::AdapterListing;
using platform::FixedNetworkAdapterSource;
using platform::NetworkAdapter;

constexpr int kEthernet = platform::kAdapterTypeEthernet;
constexpr int kWireless = platform::kAdapterTypeWireless;
constexpr int kLoopback = 772;

TEST(BroadcastSender, DestinationFromTheAdapterList) {
  const NetworkAdapter lan{kEthernet, "192.168.1.10", "255.255.255.0"};
  const struct {
    const char* name;
    std::vector<NetworkAdapter> adapters;
    const char* address;
    const char* found;  // what FindBroadcastAddress gives
    const char* destination;
  } cases[] = {
      {"the Ethernet subnet holding the address", {lan}, "192.168.1.50", "192.168.1.255", "192.168.1.255"},
      {"wireless adapters are skipped", {{kWireless, "192.168.1.10", "255.255.255.0"}}, "192.168.1.50", "",
       "255.255.255.255"},
      {"loopback adapters are skipped", {{kLoopback, "192.168.1.10", "255.255.255.0"}}, "192.168.1.50", "",
       "255.255.255.255"},
      {"an adapter without an address matches everything", {NetworkAdapter{kEthernet}, lan}, "192.168.1.50",
       "255.255.255.255", "255.255.255.255"},
      {"the first matching adapter wins",
       {{kEthernet, "10.1.2.3", "255.0.0.0"}, {kEthernet, "10.1.2.4", "255.255.0.0"}}, "10.1.9.9", "10.255.255.255",
       "10.255.255.255"},
      {"a later adapter when the first does not match",
       {{kEthernet, "172.16.0.1", "255.255.0.0"}, {kEthernet, "10.213.0.6", "255.255.255.252"}}, "10.213.0.5",
       "10.213.0.7", "10.213.0.7"},
      {"no adapter on the subnet", {lan}, "192.168.2.50", "", "255.255.255.255"},
      {"no adapters at all", {}, "192.168.1.50", "", "255.255.255.255"},
      {"empty address", {NetworkAdapter{kEthernet}, lan}, "", "", "255.255.255.255"},
      {"address that is not IPv4 text", {lan}, "lamp.local", "", "255.255.255.255"},
      {"address with an octet above 255", {lan}, "192.168.1.256", "", "255.255.255.255"},
      {"inet_addr reads short forms", {{kEthernet, "127.0.0.10", "255.255.255.0"}}, "0x7f.1", "127.0.0.255",
       "127.0.0.255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FixedNetworkAdapterSource adapters(AdapterListing::listed(c.adapters));
    BroadcastSender sender(adapters);
    ConsoleCapture console;
    EXPECT_EQ(c.found, sender.FindBroadcastAddress(c.address));
    sender.Configure(c.address, 4242);
    const sockaddr_in destination = sender.destination();
    EXPECT_EQ(AF_INET, destination.sin_family);
    EXPECT_EQ(c.destination, dotted(destination));
    EXPECT_EQ(htons(4242), destination.sin_port);
    EXPECT_EQ(4242, sender.port());
    EXPECT_EQ(c.address, sender.address());
    EXPECT_EQ("", console.text());
  }
}

// Configure, the port query and Send on a worker against Reset on the
// platform thread: each operation runs whole, so no send meets a socket being
// closed and no socket is left behind. Meant for the sanitizer builds, whose
// reports need standard error uncaptured.
TEST(BroadcastSender, ConfigureAndSendAgainstReset) {
  UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  const std::size_t before = openHandles();
  std::optional<BroadcastSender> sender(std::in_place, loopbackHost());
  constexpr int kRounds = 2000;
  std::thread worker([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (sender->port() == 0) sender->Configure("127.0.0.1", receiver.port());
      sender->Send("tick");
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    sender->Reset();
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_EQ(sender->port() != 0, sender->socketFd() >= 0);
  sender.reset();
  EXPECT_EQ(before, openHandles()) << "no socket left behind";
}

}  // namespace
}  // namespace halvix::test
