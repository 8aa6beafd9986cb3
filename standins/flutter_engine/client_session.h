#pragma once
// One Dart-side client on the messenger socket: reads frames as far as there
// is room for them (see MessengerLimits), queues writes. I/O thread only, but
// for its output gate.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <boost/asio/steady_timer.hpp>

#include "standins/flutter_engine/messenger_framing.h"
#include "standins/flutter_engine/messenger_endpoint.h"
#include "standins/flutter_engine/output_gate.h"

namespace halvix::flutter_engine {

class MessengerServer;

class ClientSession : public std::enable_shared_from_this<ClientSession> {
 public:
  // The server outlives every handler that runs: it stops its I/O thread
  // before it goes.
  ClientSession(MessengerEndpoint::Socket socket, uint64_t id, MessengerServer* server);

  uint64_t id() const { return id_; }
  const std::shared_ptr<OutputGate>& gate() const { return gate_; }
  void start() { flow(); }
  // Queues `frame` behind what a partial write through the gate left; an
  // empty frame only takes that rest in.
  void send(std::vector<uint8_t> frame);
  // The platform thread is done with requests that counted `cost`; also
  // after the client was closed, whose requests count until then.
  void settle(size_t cost);
  // Takes in what has been read as far as there is room, reads on when all
  // of it is in, and watches a client that holds its share and reads
  // nothing. May drop this client (a protocol error in bytes read before),
  // so the server calls it on clients it holds on to.
  void flow();
  // Gives back the server's count of what this client held, but for
  // requests still with the platform thread.
  void close();
  // Takes back what requests answered through the gate counted, without
  // looking for room: that comes later, from the I/O loop.
  void takeParked();

 private:
  void readMore();
  void onRead(const boost::system::error_code& error, size_t n);
  // Feeds the reader from readBuffer_ and hands on the frames that come out,
  // letting frames in while they fit; false when the client was dropped.
  bool takeIn();
  bool admits(size_t length) const;
  void waitForRoom(bool waiting);
  size_t backlog() const { return requestBytes_ + outputBytes_; }
  bool atBound() const;
  void notePending();
  // False when the client was dropped for it.
  bool enqueue(std::vector<uint8_t> frame);
  void watchForStall();
  void writeNext();
  void onWritten(const boost::system::error_code& error, size_t n);
  // Since when queued output has not moved.
  std::chrono::steady_clock::time_point stuckSince() const { return std::max(lastWrite_, queuedSince_); }
  void watchForDrain();

  MessengerEndpoint::Socket socket_;
  uint64_t id_;
  MessengerServer* server_;
  // Open only while writeQueue_ is empty and nothing is being written.
  std::shared_ptr<OutputGate> gate_;
  FrameReader reader_;
  // Read and not yet taken in: [readFrom_, readTo_).
  std::array<uint8_t, 65536> readBuffer_{};
  size_t readFrom_ = 0;
  size_t readTo_ = 0;
  bool reading_ = false;
  // Its next frame waits for room.
  bool waitingForRoom_ = false;
  // What the reader holds for the frame in progress, as the server counts it.
  size_t heldBytes_ = 0;
  std::chrono::steady_clock::time_point lastRead_;
  boost::asio::steady_timer stallTimer_;
  bool stallTimerSet_ = false;
  // Requests read and not yet settled.
  size_t requestBytes_ = 0;
  std::deque<std::vector<uint8_t>> writeQueue_;
  // What writeQueue_ counts for, and how much of its first frame is out.
  size_t outputBytes_ = 0;
  size_t written_ = 0;
  std::chrono::steady_clock::time_point queuedSince_;
  std::chrono::steady_clock::time_point lastWrite_;
  boost::asio::steady_timer drainTimer_;
  bool drainTimerSet_ = false;
  bool writing_ = false;
  bool closed_ = false;
};

}  // namespace halvix::flutter_engine
