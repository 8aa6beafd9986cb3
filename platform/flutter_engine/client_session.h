#pragma once
// One Dart-side client on the messenger socket: reads frames, queues writes.
// I/O thread only.
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <boost/asio/local/stream_protocol.hpp>

#include "platform/flutter_engine/messenger_framing.h"

namespace halvix::flutter_engine {

class MessengerServer;

class ClientSession : public std::enable_shared_from_this<ClientSession> {
 public:
  // A client that leaves this much unread output is dropped.
  static constexpr size_t kMaxQueuedBytes = 2 * size_t{kMaxFrameBody};

  // The server outlives every handler that runs: it stops its I/O thread
  // before it goes.
  ClientSession(boost::asio::local::stream_protocol::socket socket, uint64_t id, MessengerServer* server)
      : socket_(std::move(socket)), id_(id), server_(server) {}

  uint64_t id() const { return id_; }
  void start() { readMore(); }
  void send(std::vector<uint8_t> frame);
  void close();

 private:
  void readMore();
  void writeNext();

  boost::asio::local::stream_protocol::socket socket_;
  uint64_t id_;
  MessengerServer* server_;
  FrameReader reader_;
  std::array<uint8_t, 65536> readBuffer_{};
  std::deque<std::vector<uint8_t>> writeQueue_;
  size_t queuedBytes_ = 0;
  bool writing_ = false;
  bool closed_ = false;
};

}  // namespace halvix::flutter_engine
