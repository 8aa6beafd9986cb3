#pragma once
// The Dart side's end of the messenger socket, blocking and single-threaded:
// what halvixctl, the tests and the benchmarks use to play the Dart side.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "standins/flutter_engine/messenger_framing.h"
#include "standins/flutter_engine/messenger_socket.h"

namespace halvix::flutter_engine {

class MessengerClient {
 public:
  enum class Outcome { kReply, kTimeout, kClosed };

  // Throws std::system_error when the socket cannot be reached, and
  // std::runtime_error when another user serves it: nothing is sent to a
  // server that may be squatting on the path (see connectMessenger).
  explicit MessengerClient(const std::string& path);
  ~MessengerClient();
  MessengerClient(const MessengerClient&) = delete;
  MessengerClient& operator=(const MessengerClient&) = delete;

  // Sends a message that wants a reply; returns its id.
  uint32_t send(const std::string& channel, const std::vector<uint8_t>& payload);
  // Writes bytes as they are (tests use it for malformed frames). False when
  // the engine has closed the connection.
  bool sendRaw(const uint8_t* data, size_t size);
  // Waits until the engine has read every byte sent so far; false on timeout
  // and where the system cannot tell (Windows).
  bool waitUntilRead(std::chrono::milliseconds timeout);

  // Waits for the reply to `id`; frames of other kinds or ids are skipped.
  Outcome waitReply(uint32_t id, std::chrono::milliseconds timeout, std::vector<uint8_t>* reply);
  // Next frame of any kind, or nullopt on timeout or close (see closed()).
  std::optional<Frame> readFrame(std::chrono::milliseconds timeout);
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  uint32_t nextId_ = 1;
  FrameReader reader_;
  bool closed_ = false;
};

}  // namespace halvix::flutter_engine
