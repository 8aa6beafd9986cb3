#pragma once
// Sends the datagrams the Lua application prepares for the broadcast lamp to
// the directed broadcast address of the local Ethernet subnet that holds the
// lamp's address. Configured, used and queried on the SDK worker thread,
// reset and destroyed on the platform thread: one lock is held for the whole
// of every operation, so a socket is never used while it is being closed.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/network_adapters.h"
#include "platform/socket_io.h"

namespace halvix::chroma {

class BroadcastSender {
 public:
  // The adapter source must outlive the sender.
  explicit BroadcastSender(const platform::NetworkAdapterSource& adapters = platform::systemNetworkAdapters());
  ~BroadcastSender();
  BroadcastSender(const BroadcastSender&) = delete;
  BroadcastSender& operator=(const BroadcastSender&) = delete;

  // Opens a fresh broadcast socket (closing any previous one) and aims it at
  // the broadcast address of `address`'s Ethernet subnet, 255.255.255.255
  // when none is found. Port 0 opens the socket but leaves the sender
  // unconfigured. Always true.
  bool Configure(const std::string& address, std::uint16_t port);
  // Sends the payload, empty ones included, as one datagram; does nothing
  // while no socket is open. A failure is reported on the console only.
  void Send(std::string_view payload);
  // Closes the socket and forgets address and port; the destination stays
  // until the next Configure rebuilds it.
  void Reset();

  // 0 while not configured.
  std::uint16_t port() const;
  std::string address() const;
  sockaddr_in destination() const;
  // The open socket's descriptor: -1 when there is none or its creation failed.
  int socketFd() const;

  // Dotted text of the directed broadcast address of the first Ethernet
  // adapter whose subnet holds `address`; empty when the address is empty,
  // the adapter list cannot be read, or no adapter matches.
  std::string FindBroadcastAddress(const std::string& address) const;

 private:
  const platform::NetworkAdapterSource& adapters_;
  mutable std::mutex mutex_;
  std::string address_;
  std::uint16_t port_ = 0;
  // Present from Configure to Reset, even when its creation failed: sending
  // on it then reports the failure rather than staying silent.
  std::optional<platform::DatagramSocket> socket_;
  sockaddr_in destination_{};
};

}  // namespace halvix::chroma
