#include "platform/flutter_engine/messenger_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <boost/asio/post.hpp>

#include "platform/flutter_engine/client_session.h"
#include "platform/flutter_engine/messenger_socket.h"

namespace halvix::flutter_engine {

namespace {

// Clears the way for binding at `path`: nothing there, or a socket file that
// nobody listens on any more (a connect is refused), which is removed. A
// socket that a server answers on is another host's and is left alone.
int clearStaleSocket(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISSOCK(st.st_mode)) return EEXIST;
  auto address = messengerSocketAddress(path);
  if (!address) return ENAMETOOLONG;
  // Non-blocking: a live server whose backlog is full must not hold us up.
  int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (probe < 0) return errno;
  int outcome = ::connect(probe, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 ? 0 : errno;
  ::close(probe);
  switch (outcome) {
    case ECONNREFUSED:
      return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
    case ENOENT:
      return 0;
    case 0:
    case EAGAIN:
    case EINPROGRESS:
      return EADDRINUSE;
    default:
      return outcome;
  }
}

}  // namespace

std::unique_ptr<MessengerServer> MessengerServer::listen(const std::string& path, std::chrono::milliseconds frameTimeout,
                                                         Events events, int* error) {
  if (!messengerSocketAddress(path)) {
    *error = ENAMETOOLONG;
    return nullptr;
  }
  if ((*error = clearStaleSocket(path)) != 0) return nullptr;
  std::unique_ptr<MessengerServer> server(new MessengerServer(path, frameTimeout, std::move(events)));
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
  struct stat st {};
  if (::lstat(path_.c_str(), &st) != 0) return errno;
  bound_ = true;
  device_ = st.st_dev;
  inode_ = st.st_ino;
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
  // Another host may have taken the path over since; its socket stays.
  struct stat st {};
  if (bound_ && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
    ::unlink(path_.c_str());
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
      [this](const boost::system::error_code& error, boost::asio::local::stream_protocol::socket socket) {
        if (stopping_ || error == boost::asio::error::operation_aborted) return;
        if (error) {
          acceptLater(error);
          return;
        }
        acceptFailing_ = false;
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
                 std::strerror(error.value()));
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
