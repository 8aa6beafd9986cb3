#pragma once
// An adapter list for senders that must stay on this host: 127.0.0.1 listed
// as an Ethernet adapter of a one-address subnet. Every address of
// 127.0.0.0/8 belongs to this host, so the subnet's "broadcast" address is
// 127.0.0.1 itself and real sends stay on loopback.
#include "platform/network_adapters.h"

namespace halvix::test {

inline const platform::FixedNetworkAdapterSource& loopbackHost() {
  static const platform::FixedNetworkAdapterSource source(
      platform::AdapterListing::listed({{platform::kAdapterTypeEthernet, "127.0.0.1", "255.255.255.255"}}));
  return source;
}

}  // namespace halvix::test
