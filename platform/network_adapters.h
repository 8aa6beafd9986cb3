#pragma once
// The machine's network adapters as the broadcast sender reads them: in the
// system's order, each with its type and its first IPv4 address and mask as
// dotted text. Behind an interface, so that tests can hand any list, a
// failing call or an allocation failure.
#include <string>
#include <utility>
#include <vector>

namespace halvix::platform {

// Adapter types in the numbering of the Windows adapter list.
inline constexpr int kAdapterTypeEthernet = 6;
inline constexpr int kAdapterTypeWireless = 71;

struct NetworkAdapter {
  int type = 0;
  // An adapter without an IPv4 address is listed as 0.0.0.0 / 0.0.0.0.
  std::string address = "0.0.0.0";
  std::string mask = "0.0.0.0";
};

// What asking for the list came to.
struct AdapterListing {
  enum class Status {
    Listed,            // `adapters` holds the list (possibly empty)
    AllocationFailed,  // no memory for the list
    Failed,            // the system call failed with `error`
  };
  Status status = Status::Listed;
  std::vector<NetworkAdapter> adapters;
  int error = 0;

  static AdapterListing listed(std::vector<NetworkAdapter> adapters) {
    return {Status::Listed, std::move(adapters), 0};
  }
  static AdapterListing allocationFailed() { return {Status::AllocationFailed, {}, 0}; }
  static AdapterListing failed(int error) { return {Status::Failed, {}, error}; }
};

class NetworkAdapterSource {
 public:
  virtual ~NetworkAdapterSource() = default;
  virtual AdapterListing list() const = 0;
};

// Always answers the listing it was given; for tests.
class FixedNetworkAdapterSource : public NetworkAdapterSource {
 public:
  explicit FixedNetworkAdapterSource(AdapterListing listing) : listing_(std::move(listing)) {}
  AdapterListing list() const override { return listing_; }

 private:
  AdapterListing listing_;
};

// The system's adapters. Stateless; lives as long as the process.
const NetworkAdapterSource& systemNetworkAdapters();

}  // namespace halvix::platform
