#pragma once
// What the broadcast sender's tests share: console capture, a loopback-only
// adapter list and the dotted text of a destination.
#include <string>

#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/network_adapters.h"
#include "platform/socket_io.h"

namespace halvix::test {

// The console present and standard error captured for the object's life.
class ConsoleCapture {
 public:
  ConsoleCapture() {
    platform::setConsolePresent(true);
    testing::internal::CaptureStderr();
  }
  ~ConsoleCapture() {
    if (!taken_) testing::internal::GetCapturedStderr();
    platform::setConsolePresent(false);
  }
  std::string text() {
    taken_ = true;
    return testing::internal::GetCapturedStderr();
  }

 private:
  bool taken_ = false;
};

inline std::string dotted(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

// Every address of 127.0.0.0/8 belongs to this one host, so the subnet's
// "broadcast" is 127.0.0.1 itself: real sends stay on loopback.
inline const platform::FixedNetworkAdapterSource& loopbackHost() {
  static const platform::FixedNetworkAdapterSource source(
      platform::AdapterListing::listed({{platform::kAdapterTypeEthernet, "127.0.0.1", "255.255.255.255"}}));
  return source;
}

}  // namespace halvix::test
