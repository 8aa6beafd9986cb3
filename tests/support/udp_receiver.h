#pragma once
// A non-blocking UDP socket bound to one address (127.0.0.1 unless told) on a
// free port, receiving with a generous wait. Bound to a subnet's broadcast
// address, it receives only what is sent to that address.
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/socket_io.h"
#include "tests/support/socket_pair.h"

namespace halvix::test {

class UdpReceiver {
 public:
  // `address` in network byte order.
  explicit UdpReceiver(std::uint32_t address = htonl(INADDR_LOOPBACK)) {
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = address;
    socklen_t length = sizeof address_;
    if (!setNonBlocking(socket_.fd()) ||
        ::bind(socket_.fd(), reinterpret_cast<sockaddr*>(&address_), sizeof address_) != 0 ||
        ::getsockname(socket_.fd(), reinterpret_cast<sockaddr*>(&address_), &length) != 0) {
      socket_.close();
    }
  }
  bool ok() const { return socket_.isOpen(); }
  const sockaddr_in& address() const { return address_; }
  std::uint16_t port() const { return ntohs(address_.sin_port); }

  // The next datagram; WouldBlock when none came within `wait`. An empty
  // datagram is Closed with no bytes, as the socket layer classifies it.
  platform::SocketOutcome receive(std::string& bytes, sockaddr_in& from,
                                  std::chrono::milliseconds wait = std::chrono::seconds(5)) {
    if (!waitReadable(socket_.fd(), wait)) {
      bytes.clear();
      return {platform::SocketStatus::WouldBlock};
    }
    bytes.assign(65536, '\0');
    const platform::SocketOutcome o = platform::socketRecvFrom(socket_.fd(), bytes.data(), bytes.size(), from);
    bytes.resize(o.count);
    return o;
  }

 private:
  platform::DatagramSocket socket_;
  sockaddr_in address_{};
};

}  // namespace halvix::test
