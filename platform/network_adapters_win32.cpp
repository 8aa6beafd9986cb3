// The adapter list on Windows: GetAdaptersInfo into a buffer from the
// process heap, first sized for one adapter record.
#include "platform/network_adapters.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <memory>
#include <new>

namespace halvix::platform {
namespace {

struct HeapFree {
  void operator()(void* block) const { ::HeapFree(::GetProcessHeap(), 0, block); }
};
using HeapBlock = std::unique_ptr<IP_ADAPTER_INFO, HeapFree>;

HeapBlock allocate(ULONG size) {
  return HeapBlock(static_cast<IP_ADAPTER_INFO*>(::HeapAlloc(::GetProcessHeap(), 0, size)));
}

class SystemAdapterSource : public NetworkAdapterSource {
 public:
  AdapterListing list() const override {
    ULONG size = sizeof(IP_ADAPTER_INFO);
    HeapBlock buffer = allocate(size);
    if (!buffer) return AdapterListing::allocationFailed();
    // Asked twice whatever the first answer: the first call only measures
    // when one record is not enough; the second call's result counts.
    if (::GetAdaptersInfo(buffer.get(), &size) == ERROR_BUFFER_OVERFLOW) {
      buffer.reset();
      buffer = allocate(size);
      if (!buffer) return AdapterListing::allocationFailed();
    }
    if (const ULONG result = ::GetAdaptersInfo(buffer.get(), &size); result != NO_ERROR)
      return AdapterListing::failed(static_cast<int>(result));
    try {
      return AdapterListing::listed(collect(buffer.get()));
    } catch (const std::bad_alloc&) {
      return AdapterListing::allocationFailed();
    }
  }

 private:
  // Each adapter in the system's order with the first entry of its IPv4
  // address list, which Windows gives as 0.0.0.0 / 0.0.0.0 when it has none.
  static std::vector<NetworkAdapter> collect(const IP_ADAPTER_INFO* first) {
    std::vector<NetworkAdapter> adapters;
    for (const IP_ADAPTER_INFO* a = first; a != nullptr; a = a->Next) {
      NetworkAdapter& adapter = adapters.emplace_back();
      adapter.type = static_cast<int>(a->Type);
      adapter.address = text(a->IpAddressList.IpAddress);
      adapter.mask = text(a->IpAddressList.IpMask);
    }
    return adapters;
  }

  static std::string text(const IP_ADDRESS_STRING& address) {
    const char* begin = address.String;
    std::size_t length = 0;
    while (length < sizeof address.String && begin[length] != '\0') ++length;
    return length == 0 ? "0.0.0.0" : std::string(begin, length);
  }
};

static_assert(kAdapterTypeEthernet == MIB_IF_TYPE_ETHERNET && kAdapterTypeWireless == IF_TYPE_IEEE80211);

}  // namespace

const NetworkAdapterSource& systemNetworkAdapters() {
  static const SystemAdapterSource source;
  return source;
}

}  // namespace halvix::platform
