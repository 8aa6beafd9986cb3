#include "platform/flutter_engine/messenger_server.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include <boost/asio/post.hpp>

#include "platform/flutter_engine/client_session.h"

namespace halvix::flutter_engine {

std::unique_ptr<MessengerServer> MessengerServer::listen(const std::string& path, Events events, int* error) {
  if (path.empty() || path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    *error = ENAMETOOLONG;
    return nullptr;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = EEXIST;
      return nullptr;
    }
    ::unlink(path.c_str());
  }
  std::unique_ptr<MessengerServer> server(new MessengerServer(path, std::move(events)));
  if ((*error = server->bindAndListen()) != 0) return nullptr;
  MessengerServer* self = server.get();
  boost::asio::post(self->io_, [self] { self->accept(); });
  self->thread_ = std::thread([self] { self->io_.run(); });
  return server;
}

int MessengerServer::bindAndListen() {
  using boost::asio::local::stream_protocol;
  boost::system::error_code error;
  acceptor_.open(stream_protocol(), error);
  if (!error) acceptor_.bind(stream_protocol::endpoint(path_), error);
  if (error) return error.value();
  bound_ = true;
  // Nobody can connect before listen(), so tightening the mode first closes
  // the window in which another user could reach the socket.
  if (::chmod(path_.c_str(), 0600) != 0) return errno;
  acceptor_.listen(boost::asio::socket_base::max_listen_connections, error);
  return error.value();
}

MessengerServer::~MessengerServer() {
  if (thread_.joinable()) {
    boost::asio::post(io_, [this] { closeAll(); });
    work_.reset();
    thread_.join();
  }
  if (bound_) ::unlink(path_.c_str());
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

void MessengerServer::accept() {
  acceptor_.async_accept(
      [this](const boost::system::error_code& error, boost::asio::local::stream_protocol::socket socket) {
        if (stopping_ || error == boost::asio::error::operation_aborted) return;
        if (!error) {
          uint64_t id = nextSessionId_++;
          auto session = std::make_shared<ClientSession>(std::move(socket), id, this);
          sessions_[id] = session;
          // Reported before the session reads anything, so the platform
          // thread knows the client before its first message.
          events_(ServerEvent{ServerEvent::Kind::kOpened, id, {}});
          session->start();
        }
        accept();
      });
}

void MessengerServer::closeAll() {
  stopping_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  for (auto& [id, session] : sessions_) session->close();
  sessions_.clear();
}

}  // namespace halvix::flutter_engine
