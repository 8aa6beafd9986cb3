#include "standins/flutter_engine/messenger_server.h"

#include <cstdio>

#include <boost/asio/post.hpp>

#include "platform/thread_name.h"
#include "standins/flutter_engine/client_session.h"
#include "standins/flutter_engine/heap_release.h"

namespace halvix::flutter_engine {

std::unique_ptr<MessengerServer> MessengerServer::listen(const std::string& path, const MessengerLimits& limits,
                                                         Events events, int* error) {
  std::unique_ptr<MessengerServer> server(new MessengerServer(path, limits, std::move(events)));
  if ((*error = server->endpoint_.open(server->acceptor_)) != 0) return nullptr;
  MessengerServer* self = server.get();
  boost::asio::post(self->io_, [self] { self->accept(); });
  self->thread_ = std::thread([self] {
    platform::nameCurrentThread("engine-io");
    self->io_.run();
  });
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
  postedOutput_.fetch_add(1);
  boost::asio::post(io_, [this, sessions = std::move(sessions), frame = std::move(frame)]() mutable {
    for (size_t i = 0; i < sessions.size(); ++i) {
      // Sending may drop a client whose queue is full, so look each one up.
      auto it = sessions_.find(sessions[i]);
      if (it == sessions_.end()) continue;
      auto session = it->second;
      session->send(i + 1 == sessions.size() ? std::move(frame) : frame);
    }
    postedOutput_.fetch_sub(1);
  });
}

void MessengerServer::drop(uint64_t session) {
  boost::asio::post(io_, [this, session] { dropSession(session); });
}

void MessengerServer::settle(uint64_t session, size_t cost, std::vector<uint8_t> reply) {
  const bool output = !reply.empty();
  if (output) postedOutput_.fetch_add(1);
  boost::asio::post(io_, [this, session, cost, output, reply = std::move(reply)]() mutable {
    auto it = sessions_.find(session);
    if (it == sessions_.end()) {
      // Its output went with it; what its requests counted stayed until now.
      removeBacklog(cost);
    } else {
      auto client = it->second;
      // The reply is queued before the request is let go, so that the
      // client is not read from in between as if it held nothing. Without
      // one, this takes in what a partial write through the gate left.
      client->send(std::move(reply));
      client->settle(cost);
    }
    if (output) postedOutput_.fetch_sub(1);
  });
}

void MessengerServer::answer(uint64_t session, const std::shared_ptr<OutputGate>& gate, size_t cost,
                             std::vector<uint8_t> reply) {
  if (gate && postedOutput_.load() == 0) {
    switch (gate->write(reply)) {
      case OutputGate::Outcome::kWritten:
        // Gone meanwhile: what it counted goes back at once.
        if (!gate->park(cost)) return settle(session, cost);
        // Read after parking, as the I/O thread counts a waiting client
        // before it looks at what was parked: one of the two sees the other.
        if (waiting_.load() > 0) boost::asio::post(io_, [this] { takeParked(); });
        return;
      case OutputGate::Outcome::kPartly:
        reply = {};
        break;
      case OutputGate::Outcome::kRefused:
        break;
    }
  }
  settle(session, cost, std::move(reply));
}

void MessengerServer::takeParked() {
  for (auto& [id, session] : sessions_) session->takeParked();
}

void MessengerServer::onFrame(ClientSession& session, Frame& frame, size_t cost) {
  events_(ServerEvent{ServerEvent::Kind::kFrame, session.id(), std::move(frame), cost, session.gate()});
}

void MessengerServer::dropSession(uint64_t session) {
  auto it = sessions_.find(session);
  if (it == sessions_.end()) return;
  auto client = std::move(it->second);
  sessions_.erase(it);
  client->close();
  events_(ServerEvent{ServerEvent::Kind::kClosed, session, {}});
}

void MessengerServer::changePending(size_t before, size_t after) {
  size_t totalBefore = total();
  pendingBytes_ = pendingBytes_ - before + after;
  noticeChange(totalBefore);
}

void MessengerServer::addBacklog(size_t bytes) {
  size_t before = total();
  backlogBytes_ += bytes;
  noticeChange(before);
}

void MessengerServer::removeBacklog(size_t bytes) {
  size_t before = total();
  backlogBytes_ -= bytes;
  freedSinceRelease_ += bytes;
  if (freedSinceRelease_ >= kReleaseAfterBytes) releaseLater();
  noticeChange(before);
}

void MessengerServer::noticeChange(size_t before) {
  size_t after = total();
  bool reachedFull = before < limits_.totalBacklog && after >= limits_.totalBacklog;
  if (flowPosted_ || stopping_ || !((after < before && waiting_ > 0) || reachedFull)) return;
  flowPosted_ = true;
  boost::asio::post(io_, [this] {
    flowPosted_ = false;
    if (stopping_) return;
    // A client may drop itself as it looks (a protocol error in bytes it had
    // read before it was held back), which takes it out of the map.
    std::vector<std::shared_ptr<ClientSession>> clients;
    clients.reserve(sessions_.size());
    for (auto& [id, session] : sessions_) clients.push_back(session);
    for (auto& client : clients) client->flow();
  });
}

void MessengerServer::releaseLater() {
  if (releaseSet_ || stopping_) return;
  releaseSet_ = true;
  releaseTimer_.expires_after(kReleaseDelay);
  releaseTimer_.async_wait([this](const boost::system::error_code& error) {
    releaseSet_ = false;
    if (error || stopping_) return;
    freedSinceRelease_ = 0;
    releaseFreedHeap();
  });
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
        auto session = std::make_shared<ClientSession>(std::move(socket), id, this);
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
  releaseTimer_.cancel();
  for (auto& [id, session] : sessions_) session->close();
  sessions_.clear();
}

}  // namespace halvix::flutter_engine
