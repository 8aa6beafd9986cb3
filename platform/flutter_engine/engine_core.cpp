#include "platform/flutter_engine/engine_core.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include <boost/asio/post.hpp>

#include "platform/flutter_engine/client_session.h"

namespace halvix::flutter_engine {

namespace {

// Response handles carry an id rather than an address: a late or repeated
// answer then finds nothing instead of touching freed memory.
const FlutterDesktopMessageResponseHandle* handleFor(uint64_t id) {
  return reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(static_cast<uintptr_t>(id));
}

}  // namespace

EngineCore::~EngineCore() { shutdown(); }

void EngineCore::setCallback(const std::string& channel, FlutterDesktopMessageCallback callback, void* userData) {
  if (callback)
    handlers_[channel] = Handler{callback, userData};
  else
    handlers_.erase(channel);
}

bool EngineCore::send(const std::string& channel, const uint8_t* message, size_t size,
                      FlutterDesktopBinaryReply reply, void* userData) {
  if (sessions_.empty() || channel.empty() || channel.size() > 0xffff || size > kMaxFrameBody - 7 - channel.size())
    return false;
  uint32_t id = 0;
  if (reply) {
    id = nextOutgoingId_++;
    if (id == 0) id = nextOutgoingId_++;
    OutgoingReply entry{reply, userData, {}};
    for (const auto& [sessionId, session] : sessions_) entry.waitingOn.insert(sessionId);
    outgoing_[id] = std::move(entry);
  }
  auto frame = encodeMessageFrame(id, channel, message, size);
  // Sending may drop a client whose queue is full; iterate over a copy.
  auto targets = sessions_;
  for (auto& [sessionId, session] : targets) session->send(frame);
  return true;
}

void EngineCore::postResponse(uint64_t responseId, std::vector<uint8_t> data) {
  boost::asio::post(loop_, [weak = weak_from_this(), responseId, data = std::move(data)] {
    if (auto core = weak.lock()) core->deliverResponse(responseId, data);
  });
}

void EngineCore::deliverResponse(uint64_t responseId, const std::vector<uint8_t>& data) {
  auto it = responses_.find(responseId);
  if (it == responses_.end()) return;
  PendingResponse pending = it->second;
  responses_.erase(it);
  if (pending.requestId == 0) return;
  auto session = sessions_.find(pending.session);
  if (session == sessions_.end()) return;
  if (data.size() > kMaxFrameBody - 5) {
    // The framing cannot carry it; an empty reply would read as "not
    // implemented", so the client is told nothing and let go instead.
    std::cerr << "messenger: a reply of " << data.size() << " bytes is too large; dropping the client" << std::endl;
    dropSession(pending.session);
    return;
  }
  session->second->send(encodeReplyFrame(pending.requestId, data.data(), data.size()));
}

void EngineCore::onFrame(ClientSession& session, Frame& frame) {
  auto keepAlive = shared_from_this();
  if (frame.kind == FrameKind::kReply) {
    auto it = outgoing_.find(frame.id);
    if (it == outgoing_.end() || !it->second.waitingOn.count(session.id())) return;
    finishOutgoing(frame.id, frame.payload.data(), frame.payload.size());
    return;
  }
  uint64_t responseId = nextResponseId_++;
  responses_[responseId] = PendingResponse{session.id(), frame.id};
  auto handler = handlers_.find(frame.channel);
  if (handler == handlers_.end()) {
    deliverResponse(responseId, {});
    return;
  }
  FlutterDesktopMessage message{sizeof(FlutterDesktopMessage), frame.channel.c_str(), frame.payload.data(),
                                frame.payload.size(), handleFor(responseId)};
  Handler target = handler->second;
  // A handler that throws must not take the platform loop down with it.
  try {
    target.callback(&messenger_, &message, target.userData);
  } catch (const std::exception& e) {
    std::cerr << "messenger: the handler of channel " << frame.channel << " raised: " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "messenger: the handler of channel " << frame.channel << " raised" << std::endl;
  }
}

void EngineCore::finishOutgoing(uint32_t id, const uint8_t* data, size_t size) {
  auto it = outgoing_.find(id);
  if (it == outgoing_.end()) return;
  OutgoingReply entry = std::move(it->second);
  outgoing_.erase(it);
  entry.reply(size ? data : nullptr, size, entry.userData);
}

void EngineCore::dropSession(uint64_t sessionId) {
  auto it = sessions_.find(sessionId);
  if (it == sessions_.end()) return;
  auto session = std::move(it->second);
  sessions_.erase(it);
  session->close();
  std::erase_if(responses_, [&](const auto& entry) { return entry.second.session == sessionId; });
  std::vector<uint32_t> unanswered;
  for (auto& [id, entry] : outgoing_) {
    entry.waitingOn.erase(sessionId);
    if (entry.waitingOn.empty()) unanswered.push_back(id);
  }
  for (uint32_t id : unanswered) finishOutgoing(id, nullptr, 0);
}

int EngineCore::listen(const std::string& path) {
  if (shutDown_) return ESHUTDOWN;
  if (acceptor_) return EBUSY;
  if (path.empty() || path.size() >= sizeof(sockaddr_un{}.sun_path)) return ENAMETOOLONG;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return EEXIST;
    ::unlink(path.c_str());
  }
  using boost::asio::local::stream_protocol;
  auto acceptor = std::make_unique<stream_protocol::acceptor>(loop_);
  boost::system::error_code error;
  acceptor->open(stream_protocol(), error);
  if (!error) acceptor->bind(stream_protocol::endpoint(path), error);
  if (error) return error.value();
  // Nobody can connect before listen(), so tightening the mode first closes
  // the window in which another user could reach the socket.
  if (::chmod(path.c_str(), 0600) != 0) {
    int code = errno;
    ::unlink(path.c_str());
    return code;
  }
  acceptor->listen(boost::asio::socket_base::max_listen_connections, error);
  if (error) {
    ::unlink(path.c_str());
    return error.value();
  }
  acceptor_ = std::move(acceptor);
  socketPath_ = path;
  accept();
  return 0;
}

void EngineCore::accept() {
  acceptor_->async_accept([weak = weak_from_this()](const boost::system::error_code& error,
                                                    boost::asio::local::stream_protocol::socket socket) {
    auto core = weak.lock();
    if (!core || !core->acceptor_ || error == boost::asio::error::operation_aborted) return;
    if (!error) {
      uint64_t id = core->nextSessionId_++;
      auto session = std::make_shared<ClientSession>(std::move(socket), id, weak);
      core->sessions_[id] = session;
      session->start();
    }
    core->accept();
  });
}

void EngineCore::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (auto onDestroyed = registrar_.onDestroyed) {
    registrar_.onDestroyed = nullptr;
    onDestroyed(&registrar_);
  }
  handlers_.clear();
  if (acceptor_) {
    boost::system::error_code ignored;
    acceptor_->close(ignored);
    acceptor_.reset();
    ::unlink(socketPath_.c_str());
  }
  auto sessions = std::move(sessions_);
  sessions_.clear();
  for (auto& [id, session] : sessions) session->close();
  responses_.clear();
  // Whoever waits for an answer is told that none will come, so nothing it
  // allocated for the reply is left behind.
  auto outgoing = std::move(outgoing_);
  outgoing_.clear();
  for (auto& [id, entry] : outgoing) entry.reply(nullptr, 0, entry.userData);
}

}  // namespace halvix::flutter_engine
