#include "chroma/broadcast_sender.h"

#include <cstdio>
#include <string_view>

#include "platform/console.h"

namespace halvix::chroma {
namespace {

// An IPv4 address in network byte order.
using Ipv4 = std::uint32_t;

// inet_addr's reading: INADDR_NONE for an empty or malformed text.
Ipv4 ipv4FromText(const std::string& text) { return text.empty() ? INADDR_NONE : ::inet_addr(text.c_str()); }

std::string dottedText(Ipv4 address) {
  in_addr a{};
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

// One formatted line whose only argument is a number; short enough for the buffer.
void consoleLine(const char* format, int number) {
  char line[64];
  const int length = std::snprintf(line, sizeof line, format, number);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof line) platform::consoleWrite(line, length);
}

void consoleLine(std::string_view text) { platform::consoleWrite(text.data(), text.size()); }

}  // namespace

BroadcastSender::BroadcastSender(const platform::NetworkAdapterSource& adapters) : adapters_(adapters) {}

BroadcastSender::~BroadcastSender() { Reset(); }

bool BroadcastSender::Configure(const std::string& address, std::uint16_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The old socket goes before the new one is made.
  socket_.reset();
  address_ = address;
  port_ = port;
  socket_.emplace();
  socket_->setBroadcast(1);
  destination_ = sockaddr_in{};
  destination_.sin_family = AF_INET;
  destination_.sin_addr.s_addr = ipv4FromText(FindBroadcastAddress(address));
  destination_.sin_port = htons(port);
  return true;
}

void BroadcastSender::Send(std::string_view payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!socket_) return;
  const platform::SocketOutcome sent = socket_->sendTo(payload.data(), payload.size(), destination_);
  if (sent.done()) return;
  consoleLine("sendto() failed:%d\n", sent.error);
}

void BroadcastSender::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  socket_.reset();
  address_.clear();
  port_ = 0;
}

std::uint16_t BroadcastSender::port() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return port_;
}

std::string BroadcastSender::address() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return address_;
}

sockaddr_in BroadcastSender::destination() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return destination_;
}

int BroadcastSender::socketFd() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return socket_ ? socket_->fd() : -1;
}

std::string BroadcastSender::FindBroadcastAddress(const std::string& address) const {
  if (address.empty()) return {};
  const Ipv4 target = ipv4FromText(address);
  const platform::AdapterListing listing = adapters_.list();
  switch (listing.status) {
    case platform::AdapterListing::Status::AllocationFailed:
      consoleLine("Error allocating memory needed to call GetAdaptersinfo\n");
      return {};
    case platform::AdapterListing::Status::Failed:
      consoleLine("GetAdaptersInfo failed with error: %d\n", listing.error);
      return {};
    case platform::AdapterListing::Status::Listed:
      break;
  }
  // The source gives each adapter's first IPv4 entry only, and 0.0.0.0 /
  // 0.0.0.0 for one without an address, which matches every target.
  for (const platform::NetworkAdapter& adapter : listing.adapters) {
    if (adapter.type != platform::kAdapterTypeEthernet) continue;
    const Ipv4 a = ipv4FromText(adapter.address);
    const Ipv4 m = ipv4FromText(adapter.mask);
    if ((a & m) == (target & m)) return dottedText(a | ~m);
  }
  return {};
}

}  // namespace halvix::chroma
