#include "platform/flutter_engine/client_session.h"

#include <iostream>

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>

#include "platform/flutter_engine/messenger_server.h"

namespace halvix::flutter_engine {

ClientSession::ClientSession(MessengerEndpoint::Socket socket, uint64_t id, MessengerServer* server,
                             std::chrono::milliseconds frameTimeout)
    : socket_(std::move(socket)),
      id_(id),
      server_(server),
      frameTimeout_(frameTimeout),
      stallTimer_(socket_.get_executor()) {}

void ClientSession::readMore() {
  socket_.async_read_some(boost::asio::buffer(readBuffer_),
                          [self = shared_from_this()](const boost::system::error_code& error, size_t n) {
                            self->onRead(error, n);
                          });
}

void ClientSession::onRead(const boost::system::error_code& error, size_t n) {
  if (closed_) return;
  if (error) {
    server_->dropSession(id_);
    return;
  }
  reader_.feed(readBuffer_.data(), n);
  while (auto frame = reader_.next()) {
    server_->onFrame(*this, *frame);
    if (closed_) return;
  }
  if (reader_.failed()) {
    server_->dropSession(id_);
    return;
  }
  size_t held = reader_.pending();
  if (!server_->holdPending(heldBytes_, held)) {
    std::cerr << "messenger: dropping a client: incomplete frames would hold more than "
              << MessengerServer::kMaxPendingBytes << " bytes" << std::endl;
    server_->dropSession(id_);
    return;
  }
  heldBytes_ = held;
  if (heldBytes_ > 0) {
    lastRead_ = std::chrono::steady_clock::now();
    watchForStall();
  }
  readMore();
}

// One timer per client, set only while it holds part of a frame and moved
// on lazily, so that a client streaming a large frame does not reset it at
// every read.
void ClientSession::watchForStall() {
  if (stallTimerSet_) return;
  stallTimerSet_ = true;
  stallTimer_.expires_at(lastRead_ + frameTimeout_);
  stallTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    self->stallTimerSet_ = false;
    if (error || self->closed_ || self->heldBytes_ == 0) return;
    if (std::chrono::steady_clock::now() - self->lastRead_ < self->frameTimeout_) {
      self->watchForStall();
      return;
    }
    std::cerr << "messenger: dropping a client whose frame made no progress for " << self->frameTimeout_.count()
              << " ms" << std::endl;
    self->server_->dropSession(self->id_);
  });
}

void ClientSession::send(std::vector<uint8_t> frame) {
  if (closed_) return;
  queuedBytes_ += frame.size();
  if (queuedBytes_ > kMaxQueuedBytes) {
    server_->dropSession(id_);
    return;
  }
  writeQueue_.push_back(std::move(frame));
  if (!writing_) writeNext();
}

void ClientSession::writeNext() {
  writing_ = true;
  boost::asio::async_write(socket_, boost::asio::buffer(writeQueue_.front()),
                           [self = shared_from_this()](const boost::system::error_code& error, size_t) {
                             if (self->closed_) return;
                             self->queuedBytes_ -= self->writeQueue_.front().size();
                             self->writeQueue_.pop_front();
                             if (error) {
                               self->server_->dropSession(self->id_);
                               return;
                             }
                             if (self->writeQueue_.empty())
                               self->writing_ = false;
                             else
                               self->writeNext();
                           });
}

void ClientSession::close() {
  if (closed_) return;
  closed_ = true;
  server_->holdPending(heldBytes_, 0);
  heldBytes_ = 0;
  stallTimer_.cancel();
  boost::system::error_code ignored;
  socket_.shutdown(boost::asio::socket_base::shutdown_both, ignored);
  socket_.close(ignored);
}

}  // namespace halvix::flutter_engine
