#include "platform/flutter_engine/messenger_server.h"

#include <cstdio>

#include <boost/asio/post.hpp>

#include "platform/flutter_engine/client_session.h"

namespace halvix::flutter_engine {

std::unique_ptr<MessengerServer> MessengerServer::listen(const std::string& path, std::chrono::milliseconds frameTimeout,
                                                         Events events, int* error) {
  std::unique_ptr<MessengerServer> server(new MessengerServer(path, frameTimeout, std::move(events)));
  if ((*error = server->endpoint_.open(server->acceptor_)) != 0) return nullptr;
  MessengerServer* self = server.get();
  boost::asio::post(self->io_, [self] { self->accept(); });
  self->thread_ = std::thread([self] { self->io_.run(); });
  return server;
}

MessengerServer::~MessengerServer() {
  if (thread_.joinable()) {
    boost::asio::post(io_, [this] { closeAll(); });
    work_.reset();
    thread_.join();
  }
}

void MessengerServer::send(std::vector<uint64_t> sessions, std::vector<uint8_t> frame) {
  boost::asio::post(io_, [this, sessions = std::move(sessions), frame = std::move(frame)] {
    for (uint64_t id : sessions) {
      // Sending may drop a client whose queue is full, so look each one up.
      auto it = sessions_.find(id);
      if (it == sessions_.end()) continue;
      auto session = it->second;
      session->send(frame);
    }
  });
}

void MessengerServer::drop(uint64_t session) {
  boost::asio::post(io_, [this, session] { dropSession(session); });
}

void MessengerServer::onFrame(ClientSession& session, Frame& frame) {
  events_(ServerEvent{ServerEvent::Kind::kFrame, session.id(), std::move(frame)});
}

void MessengerServer::dropSession(uint64_t session) {
  auto it = sessions_.find(session);
  if (it == sessions_.end()) return;
  auto client = std::move(it->second);
  sessions_.erase(it);
  client->close();
  events_(ServerEvent{ServerEvent::Kind::kClosed, session, {}});
}

bool MessengerServer::holdPending(size_t before, size_t after) {
  size_t others = pendingBytes_ - before;
  if (after > kMaxPendingBytes - others) return false;
  pendingBytes_ = others + after;
  return true;
}

void MessengerServer::accept() {
  acceptor_.async_accept(
      [this](const boost::system::error_code& error, MessengerEndpoint::Socket socket) {
        if (stopping_ || error == boost::asio::error::operation_aborted) return;
        if (error) {
          acceptLater(error);
          return;
        }
        acceptFailing_ = false;
        if (const auto admission = endpoint_.admit(socket); admission != MessengerEndpoint::Admission::kServed) {
          if (admission == MessengerEndpoint::Admission::kAnotherUser)
            std::fprintf(stderr, "messenger: refusing a client that runs as another user\n");
          accept();
          return;
        }
        uint64_t id = nextSessionId_++;
        auto session = std::make_shared<ClientSession>(std::move(socket), id, this, frameTimeout_);
        sessions_[id] = session;
        // Reported before the session reads anything, so the platform
        // thread knows the client before its first message.
        events_(ServerEvent{ServerEvent::Kind::kOpened, id, {}});
        session->start();
        accept();
      });
}

void MessengerServer::acceptLater(const boost::system::error_code& error) {
  // Once per run of failures: the waiting client stays queued and is taken
  // when descriptors come back. Plain stdio, since the process may have no
  // descriptor to spare: checked builds probe stream objects with a pipe.
  if (!acceptFailing_)
    std::fprintf(stderr, "messenger: cannot accept a client (%s); trying again shortly\n",
                 error.message().c_str());
  acceptFailing_ = true;
  acceptPause_.expires_after(kAcceptRetryDelay);
  acceptPause_.async_wait([this](const boost::system::error_code& waited) {
    if (!stopping_ && !waited) accept();
  });
}

void MessengerServer::closeAll() {
  stopping_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  acceptPause_.cancel();
  for (auto& [id, session] : sessions_) session->close();
  sessions_.clear();
}

}  // namespace halvix::flutter_engine
