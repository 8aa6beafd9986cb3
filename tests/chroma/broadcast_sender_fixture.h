#pragma once
// What the broadcast sender's tests share: console capture, a loopback-only
// adapter list and the dotted text of a destination.
#include <string>

#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/socket_io.h"
#include "tests/support/loopback_adapters.h"

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

}  // namespace halvix::test
