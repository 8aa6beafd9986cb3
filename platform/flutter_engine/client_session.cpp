#include "platform/flutter_engine/client_session.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>

#include "platform/flutter_engine/messenger_server.h"

namespace halvix::flutter_engine {

void ClientSession::readMore() {
  socket_.async_read_some(boost::asio::buffer(readBuffer_),
                          [self = shared_from_this()](const boost::system::error_code& error, size_t n) {
                            if (self->closed_) return;
                            if (error) {
                              self->server_->dropSession(self->id_);
                              return;
                            }
                            self->reader_.feed(self->readBuffer_.data(), n);
                            while (auto frame = self->reader_.next()) {
                              self->server_->onFrame(*self, *frame);
                              if (self->closed_) return;
                            }
                            if (self->reader_.failed()) {
                              self->server_->dropSession(self->id_);
                              return;
                            }
                            self->readMore();
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
  boost::system::error_code ignored;
  socket_.shutdown(boost::asio::local::stream_protocol::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

}  // namespace halvix::flutter_engine
