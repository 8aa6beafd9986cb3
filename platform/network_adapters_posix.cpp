// The adapter list on Linux: getifaddrs for the interfaces and their
// addresses, sysfs for their types.
#include "platform/network_adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <new>
#include <string_view>

#include "platform/network_adapters_sysfs.h"

namespace halvix::platform {
namespace {

std::string dotted(const sockaddr* address) {
  char text[INET_ADDRSTRLEN] = "0.0.0.0";
  if (address != nullptr && address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  }
  return text;
}

struct Entry {
  std::string name;
  NetworkAdapter adapter;
  bool hasAddress = false;
};

class SystemAdapterSource : public NetworkAdapterSource {
 public:
  AdapterListing list() const override {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
      return errno == ENOMEM ? AdapterListing::allocationFailed() : AdapterListing::failed(errno);
    }
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> all(raw, ::freeifaddrs);
    try {
      return AdapterListing::listed(collect(all.get()));
    } catch (const std::bad_alloc&) {
      return AdapterListing::allocationFailed();
    }
  }

 private:
  // Interfaces in the order they first appear (the kernel's link order); an
  // alias label such as eth0:1 belongs to its interface, and only the first
  // IPv4 address of each interface counts.
  static std::vector<NetworkAdapter> collect(const ifaddrs* first) {
    std::vector<Entry> entries;
    for (const ifaddrs* i = first; i != nullptr; i = i->ifa_next) {
      if (i->ifa_name == nullptr) continue;
      const std::string_view label = i->ifa_name;
      const std::string name(label.substr(0, label.find(':')));
      Entry* entry = nullptr;
      for (Entry& e : entries) {
        if (e.name == name) entry = &e;
      }
      if (entry == nullptr) entry = &entries.emplace_back(Entry{name, {}, false});
      if (!entry->hasAddress && i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET) {
        entry->adapter.address = dotted(i->ifa_addr);
        entry->adapter.mask = dotted(i->ifa_netmask);
        entry->hasAddress = true;
      }
    }
    std::vector<NetworkAdapter> adapters;
    adapters.reserve(entries.size());
    for (Entry& e : entries) {
      e.adapter.type = adapterTypeFromSysfs(std::filesystem::path("/sys/class/net") / e.name);
      adapters.push_back(std::move(e.adapter));
    }
    return adapters;
  }
};

}  // namespace

int adapterTypeFromSysfs(const std::filesystem::path& interfaceFolder) {
  std::error_code ignored;
  if (std::filesystem::exists(interfaceFolder / "wireless", ignored) ||
      std::filesystem::exists(interfaceFolder / "phy80211", ignored)) {
    return kAdapterTypeWireless;
  }
  std::ifstream in(interfaceFolder / "type");
  int type = 0;
  if (!(in >> type)) return 0;
  return type == 1 ? kAdapterTypeEthernet : type;
}

const NetworkAdapterSource& systemNetworkAdapters() {
  static const SystemAdapterSource source;
  return source;
}

}  // namespace halvix::platform
