// The adapter list on Linux: the system source lists loopback, and the type
// of an interface follows its sysfs folder.
#include "platform/network_adapters.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/network_adapters_sysfs.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

using platform::AdapterListing;

TEST(NetworkAdapters, SystemListHoldsLoopbackWithItsAddress) {
  const AdapterListing listing = platform::systemNetworkAdapters().list();
  ASSERT_EQ(AdapterListing::Status::Listed, listing.status);
  bool found = false;
  for (const platform::NetworkAdapter& a : listing.adapters) {
    if (a.address != "127.0.0.1") continue;
    found = true;
    EXPECT_EQ("255.0.0.0", a.mask);
    EXPECT_NE(platform::kAdapterTypeEthernet, a.type);
    EXPECT_EQ(772, a.type) << "loopback keeps its own number";
  }
  EXPECT_TRUE(found);
}

TEST(NetworkAdapters, TypeFromTheSysfsFolder) {
  TempDir root;
  const struct {
    const char* name;
    const char* type;      // contents of `type`, or null for none
    const char* marker;    // an entry that marks a wireless interface, or null
    int expected;
  } cases[] = {
      {"eth0", "1\n", nullptr, 6},
      {"wlan0", "1\n", "wireless/", 71},
      {"wlp2s0", "1\n", "phy80211", 71},
      {"lo", "772\n", nullptr, 772},
      {"ppp0", "512\n", nullptr, 512},
      {"gone", nullptr, nullptr, 0},
      {"odd", "ether\n", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path folder = root.path() / c.name;
    std::filesystem::create_directories(folder);
    if (c.type) root.write(std::string(c.name) + "/type", c.type);
    if (c.marker) {
      const std::string marker = c.marker;
      if (marker.back() == '/') {
        std::filesystem::create_directories(folder / marker);
      } else {
        root.write(std::string(c.name) + "/" + marker, "");
      }
    }
    EXPECT_EQ(c.expected, platform::adapterTypeFromSysfs(folder));
  }
}

}  // namespace
}  // namespace halvix::test
