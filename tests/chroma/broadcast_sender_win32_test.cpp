// The broadcast sender's adapter walk over the system's own list
// (GetAdaptersInfo). Nothing is sent.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chroma/broadcast_sender.h"
#include "platform/network_adapters.h"
#include "platform/socket_io.h"

namespace halvix::test {
namespace {

TEST(BroadcastSenderWindows, WalksTheSystemsAdapterList) {
  const platform::AdapterListing listing = platform::systemNetworkAdapters().list();
  ASSERT_EQ(platform::AdapterListing::Status::Listed, listing.status) << listing.error;
  chroma::BroadcastSender sender;
  // The same list handed over as it is: the default sender must walk the
  // system's list to agree with it, for every adapter's address and for one
  // on no network (192.0.2.1, kept for documentation), on any host.
  const platform::FixedNetworkAdapterSource same(listing);
  const chroma::BroadcastSender fromList(same);
  EXPECT_EQ(fromList.FindBroadcastAddress("192.0.2.1"), sender.FindBroadcastAddress("192.0.2.1"));
  for (const platform::NetworkAdapter& adapter : listing.adapters) {
    SCOPED_TRACE(adapter.address + "/" + adapter.mask);
    in_addr address{}, mask{};
    ASSERT_EQ(1, ::inet_pton(AF_INET, adapter.address.c_str(), &address));
    ASSERT_EQ(1, ::inet_pton(AF_INET, adapter.mask.c_str(), &mask));
    EXPECT_EQ(fromList.FindBroadcastAddress(adapter.address), sender.FindBroadcastAddress(adapter.address));
    // An Ethernet adapter's own address lies in its own subnet.
    if (adapter.type == platform::kAdapterTypeEthernet && address.s_addr != 0) {
      EXPECT_NE("", sender.FindBroadcastAddress(adapter.address));
    }
  }
}

}  // namespace
}  // namespace halvix::test
