#include "standins/flutter_engine/client_session.h"

#include <iostream>

#include <boost/asio/buffer.hpp>

#include "standins/flutter_engine/messenger_server.h"

namespace halvix::flutter_engine {

namespace {

// A frame of body length `length` counts as much while in progress as once
// read, so that letting it in reserves all it will take.
size_t frameCost(size_t length) { return 4 + length + kFrameOverhead; }

size_t outputCost(const std::vector<uint8_t>& frame) { return frame.size() + kFrameOverhead; }

size_t bodyLength(const Frame& frame) {
  return 5 + (frame.kind == FrameKind::kMessage ? 2 + frame.channel.size() : 0) + frame.payload.size();
}

}  // namespace

ClientSession::ClientSession(MessengerEndpoint::Socket socket, uint64_t id, MessengerServer* server)
    : socket_(std::move(socket)),
      id_(id),
      server_(server),
      gate_(std::make_shared<OutputGate>(socket_.native_handle())),
      stallTimer_(socket_.get_executor()),
      drainTimer_(socket_.get_executor()) {}

bool ClientSession::admits(size_t length) const {
  const MessengerLimits& limits = server_->limits();
  const size_t cost = frameCost(length);
  // All but the length prefix this client holds, which the cost covers.
  const size_t others = server_->total() - heldBytes_;
  if (backlog() == 0) return others == 0 || others + cost <= limits.ceiling();
  return backlog() + cost <= limits.clientBacklog && others + cost <= limits.totalBacklog;
}

bool ClientSession::atBound() const {
  return waitingForRoom_ || backlog() >= server_->limits().clientBacklog || server_->full();
}

void ClientSession::waitForRoom(bool waiting) {
  if (waiting == waitingForRoom_) return;
  waitingForRoom_ = waiting;
  server_->countWaiting(waiting);
}

void ClientSession::flow() {
  if (closed_) return;
  if (!reading_) {
    if (!takeIn()) return;
    if (readFrom_ == readTo_ && !reader_.awaiting()) readMore();
  }
  if (!writeQueue_.empty() && atBound()) watchForDrain();
}

bool ClientSession::takeIn() {
  for (;;) {
    if (auto length = reader_.awaiting()) {
      if (!admits(*length)) {
        // Counted as waiting first, so that an answer parked from now on
        // has the I/O thread look again (MessengerServer::answer).
        waitForRoom(true);
        server_->takeParked();
      }
      waitForRoom(!admits(*length));
      if (waitingForRoom_) return true;
      reader_.admit();
      notePending();
    }
    if (readFrom_ == readTo_) return true;
    readFrom_ += reader_.take(readBuffer_.data() + readFrom_, readTo_ - readFrom_);
    while (auto frame = reader_.next()) {
      size_t cost = frameCost(bodyLength(*frame));
      requestBytes_ += cost;
      server_->addBacklog(cost);
      notePending();
      server_->onFrame(*this, *frame, cost);
    }
    if (reader_.failed()) {
      server_->dropSession(id_);
      return false;
    }
    notePending();
  }
}

void ClientSession::notePending() {
  size_t held = reader_.pending();
  if (held == heldBytes_) return;
  size_t before = heldBytes_;
  heldBytes_ = held;
  server_->changePending(before, held);
}

void ClientSession::readMore() {
  reading_ = true;
  readFrom_ = readTo_ = 0;
  // The time a partial frame may take runs only while it is being read.
  if (heldBytes_ > 0) {
    lastRead_ = std::chrono::steady_clock::now();
    watchForStall();
  }
  socket_.async_read_some(boost::asio::buffer(readBuffer_),
                          [self = shared_from_this()](const boost::system::error_code& error, size_t n) {
                            self->onRead(error, n);
                          });
}

void ClientSession::onRead(const boost::system::error_code& error, size_t n) {
  reading_ = false;
  if (closed_) return;
  if (error) {
    server_->dropSession(id_);
    return;
  }
  readTo_ = n;
  lastRead_ = std::chrono::steady_clock::now();
  takeParked();
  flow();
}

// One timer per client, set only while it holds part of a frame and moved
// on lazily, so that a client streaming a large frame does not reset it at
// every read.
void ClientSession::watchForStall() {
  if (stallTimerSet_) return;
  stallTimerSet_ = true;
  const auto timeout = server_->limits().frameTimeout;
  stallTimer_.expires_at(lastRead_ + timeout);
  stallTimer_.async_wait([self = shared_from_this(), timeout](const boost::system::error_code& error) {
    self->stallTimerSet_ = false;
    // A client held back is not the one that stalls; reading again starts
    // its time afresh.
    if (error || self->closed_ || self->heldBytes_ == 0 || !self->reading_) return;
    if (std::chrono::steady_clock::now() - self->lastRead_ < timeout) {
      self->watchForStall();
      return;
    }
    std::cerr << "messenger: dropping a client whose frame made no progress for " << timeout.count() << " ms"
              << std::endl;
    self->server_->dropSession(self->id_);
  });
}

// Set while the client is at a bound with output queued; when it fires, the
// client is dropped only if it is still there and not one byte of its output
// has left for the whole time.
void ClientSession::watchForDrain() {
  if (drainTimerSet_) return;
  drainTimerSet_ = true;
  const auto timeout = server_->limits().drainTimeout;
  drainTimer_.expires_at(stuckSince() + timeout);
  drainTimer_.async_wait([self = shared_from_this(), timeout](const boost::system::error_code& error) {
    self->drainTimerSet_ = false;
    if (error || self->closed_) return;
    self->server_->takeParked();
    if (self->writeQueue_.empty() || !self->atBound()) return;
    if (std::chrono::steady_clock::now() - self->stuckSince() < timeout) {
      self->watchForDrain();
      return;
    }
    std::cerr << "messenger: dropping a client that read nothing of its replies for " << timeout.count()
              << " ms while it held its share" << std::endl;
    self->server_->dropSession(self->id_);
  });
}

void ClientSession::send(std::vector<uint8_t> frame) {
  if (closed_) return;
  OutputGate::Rest rest = gate_->shut();
  if (!rest.frame.empty()) {
    // The gate was open, so nothing else is queued: the rest goes first.
    written_ = rest.written;
    if (!enqueue(std::move(rest.frame))) return;
  }
  if (!frame.empty() && !enqueue(std::move(frame))) return;
  if (writeQueue_.empty())
    gate_->open();
  else if (!writing_)
    writeNext();
  flow();
}

bool ClientSession::enqueue(std::vector<uint8_t> frame) {
  size_t cost = outputCost(frame);
  // Frames are let in only while there is room, so only replies far larger
  // than their requests, or the host's own messages to a client that reads
  // nothing, come this far.
  const size_t ceiling = size_t{kMaxFrameBody} + 2 * server_->limits().clientBacklog;
  if (outputBytes_ + cost > ceiling) {
    std::cerr << "messenger: dropping a client whose unread output would exceed " << ceiling << " bytes"
              << std::endl;
    server_->dropSession(id_);
    return false;
  }
  if (writeQueue_.empty()) queuedSince_ = std::chrono::steady_clock::now();
  outputBytes_ += cost;
  server_->addBacklog(cost);
  writeQueue_.push_back(std::move(frame));
  return true;
}

void ClientSession::takeParked() {
  if (closed_) return;
  if (size_t cost = gate_->takeSettled()) {
    requestBytes_ -= cost;
    server_->removeBacklog(cost);
  }
}

void ClientSession::settle(size_t cost) {
  requestBytes_ -= cost;
  server_->removeBacklog(cost);
  flow();
}

// Piece by piece rather than one async_write per frame, so that a client
// reading a large reply slowly is seen to make progress.
void ClientSession::writeNext() {
  writing_ = true;
  const auto& front = writeQueue_.front();
  socket_.async_write_some(boost::asio::buffer(front.data() + written_, front.size() - written_),
                           [self = shared_from_this()](const boost::system::error_code& error, size_t n) {
                             self->onWritten(error, n);
                           });
}

void ClientSession::onWritten(const boost::system::error_code& error, size_t n) {
  writing_ = false;
  if (closed_) return;
  if (error) {
    server_->dropSession(id_);
    return;
  }
  lastWrite_ = std::chrono::steady_clock::now();
  written_ += n;
  if (written_ == writeQueue_.front().size()) {
    size_t cost = outputCost(writeQueue_.front());
    writeQueue_.pop_front();
    written_ = 0;
    outputBytes_ -= cost;
    server_->removeBacklog(cost);
  }
  if (!writeQueue_.empty())
    writeNext();
  else
    gate_->open();
  flow();
}

void ClientSession::close() {
  if (closed_) return;
  closed_ = true;
  // Before the socket goes: a write through the gate finishes first.
  const size_t parked = gate_->close();
  requestBytes_ -= parked;
  server_->removeBacklog(parked);
  waitForRoom(false);
  server_->changePending(heldBytes_, 0);
  heldBytes_ = 0;
  server_->removeBacklog(outputBytes_);
  outputBytes_ = 0;
  stallTimer_.cancel();
  drainTimer_.cancel();
  boost::system::error_code ignored;
  // Windows aborts a socket's pending operations when it is closed, but Wine
  // keeps a write that cannot finish (to a client that reads nothing), and
  // with it the connection, for good: the client would never learn it was
  // dropped, and one blocked in a send would stay blocked.
  socket_.cancel(ignored);
  socket_.shutdown(boost::asio::socket_base::shutdown_both, ignored);
  socket_.close(ignored);
}

}  // namespace halvix::flutter_engine
