#pragma once
// One Dart-side client on the messenger socket: reads frames, queues writes.
// I/O thread only.
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <boost/asio/steady_timer.hpp>

#include "platform/flutter_engine/messenger_framing.h"
#include "platform/flutter_engine/messenger_endpoint.h"

namespace halvix::flutter_engine {

class MessengerServer;

class ClientSession : public std::enable_shared_from_this<ClientSession> {
 public:
  // A client that leaves this much unread output is dropped.
  static constexpr size_t kMaxQueuedBytes = 2 * size_t{kMaxFrameBody};

  // The server outlives every handler that runs: it stops its I/O thread
  // before it goes. A client that holds part of a frame and sends nothing
  // for `frameTimeout` is dropped.
  ClientSession(MessengerEndpoint::Socket socket, uint64_t id, MessengerServer* server,
                std::chrono::milliseconds frameTimeout);

  uint64_t id() const { return id_; }
  void start() { readMore(); }
  void send(std::vector<uint8_t> frame);
  // Also gives back the server's count of bytes this client held.
  void close();

 private:
  void readMore();
  void onRead(const boost::system::error_code& error, size_t n);
  void watchForStall();
  void writeNext();

  MessengerEndpoint::Socket socket_;
  uint64_t id_;
  MessengerServer* server_;
  FrameReader reader_;
  std::array<uint8_t, 65536> readBuffer_{};
  // Bytes of an incomplete frame counted against the server's limit.
  size_t heldBytes_ = 0;
  std::chrono::milliseconds frameTimeout_;
  std::chrono::steady_clock::time_point lastRead_;
  boost::asio::steady_timer stallTimer_;
  bool stallTimerSet_ = false;
  std::deque<std::vector<uint8_t>> writeQueue_;
  size_t queuedBytes_ = 0;
  bool writing_ = false;
  bool closed_ = false;
};

}  // namespace halvix::flutter_engine
