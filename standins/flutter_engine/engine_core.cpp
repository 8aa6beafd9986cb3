#include "standins/flutter_engine/engine_core.h"

#include <cerrno>
#include <iostream>
#include <utility>

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
    outgoing_[id] = OutgoingReply{reply, userData, sessions_};
  }
  server_->send(std::vector<uint64_t>(sessions_.begin(), sessions_.end()),
                encodeMessageFrame(id, channel, message, size));
  return true;
}

void EngineCore::postResponse(uint64_t responseId, std::optional<ReplyFrame> reply) {
  // The answer goes from the thread that has it straight to the socket's
  // thread: a detour through the platform thread would only add a crossing,
  // since the socket's thread knows by itself whether the client is still
  // there. Whoever takes the pending entry first settles it, so a late or
  // repeated answer, or one racing the client's end, finds nothing.
  std::optional<PendingResponse> pending = takeResponse(responseId);
  if (!pending) return;
  if (!reply || pending->requestId == 0) {
    settle(pending->session, pending->cost);
    return;
  }
  if (reply->payloadSize() > kMaxFrameBody - 5) {
    // Letting the client go touches the platform thread's list of clients.
    runner_.post([weak = weak_from_this(), pending = *pending, size = reply->payloadSize()] {
      if (auto core = weak.lock()) core->refuseReply(pending, size);
    });
    return;
  }
  if (server_)
    server_->answer(pending->session, pending->gate, pending->cost, std::move(*reply).seal(pending->requestId));
}

std::optional<EngineCore::PendingResponse> EngineCore::takeResponse(uint64_t responseId) {
  std::lock_guard lock(responsesMutex_);
  auto it = responses_.find(responseId);
  if (it == responses_.end()) return std::nullopt;
  PendingResponse pending = it->second;
  responses_.erase(it);
  return pending;
}

void EngineCore::refuseReply(const PendingResponse& pending, size_t size) {
  // The framing cannot carry it; an empty reply would read as "not
  // implemented", so the client is told nothing and let go instead.
  std::cerr << "messenger: a reply of " << size << " bytes is too large; dropping the client" << std::endl;
  if (server_) server_->drop(pending.session);
  settle(pending.session, pending.cost);
  forgetSession(pending.session);
}

void EngineCore::settle(uint64_t session, size_t cost, std::vector<uint8_t> reply) {
  if (server_) server_->settle(session, cost, std::move(reply));
}

void EngineCore::onServerEvent(ServerEvent& event) {
  switch (event.kind) {
    case ServerEvent::Kind::kOpened:
      if (!shutDown_) sessions_.insert(event.session);
      break;
    case ServerEvent::Kind::kFrame:
      onFrame(event.session, event.frame, event.cost, std::move(event.gate));
      break;
    case ServerEvent::Kind::kClosed:
      forgetSession(event.session);
      break;
  }
}

void EngineCore::onFrame(uint64_t session, Frame& frame, size_t cost, std::shared_ptr<OutputGate> gate) {
  // A client the platform thread has already let go of is not heard.
  if (!sessions_.count(session)) {
    settle(session, cost);
    return;
  }
  auto keepAlive = shared_from_this();
  if (frame.kind == FrameKind::kReply) {
    // Settled before the reply callback, which may destroy the engine.
    settle(session, cost);
    auto it = outgoing_.find(frame.id);
    if (it == outgoing_.end() || !it->second.waitingOn.count(session)) return;
    finishOutgoing(frame.id, frame.payload.data(), frame.payload.size());
    return;
  }
  uint64_t responseId = nextResponseId_++;
  {
    std::lock_guard lock(responsesMutex_);
    responses_[responseId] = PendingResponse{session, frame.id, cost, std::move(gate)};
  }
  auto handler = handlers_.find(frame.channel);
  if (handler == handlers_.end()) {
    postResponse(responseId, ReplyFrame(nullptr, 0));
    return;
  }
  FlutterDesktopMessage message{sizeof(FlutterDesktopMessage), frame.channel.c_str(), frame.payload.data(),
                                frame.payload.size(), handleFor(responseId)};
  Handler target = handler->second;
  // A handler that throws must not take the platform loop down with it.
  try {
    target.callback(messenger_, &message, target.userData);
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

void EngineCore::forgetSession(uint64_t session) {
  if (!sessions_.erase(session)) return;
  size_t cost = 0;
  {
    std::lock_guard lock(responsesMutex_);
    for (auto it = responses_.begin(); it != responses_.end();) {
      if (it->second.session == session) {
        cost += it->second.cost;
        it = responses_.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (cost) settle(session, cost);
  std::vector<uint32_t> unanswered;
  for (auto& [id, entry] : outgoing_) {
    entry.waitingOn.erase(session);
    if (entry.waitingOn.empty()) unanswered.push_back(id);
  }
  for (uint32_t id : unanswered) finishOutgoing(id, nullptr, 0);
}

int EngineCore::setFrameTimeout(std::chrono::milliseconds timeout) {
  if (timeout.count() <= 0) return EINVAL;
  if (shutDown_) return ECANCELED;
  if (server_) return EBUSY;
  limits_.frameTimeout = timeout;
  return 0;
}

int EngineCore::setBacklogLimits(size_t clientBytes, size_t totalBytes, std::chrono::milliseconds drainTimeout) {
  if (clientBytes == 0 || totalBytes == 0 || drainTimeout.count() <= 0) return EINVAL;
  if (shutDown_) return ECANCELED;
  if (server_) return EBUSY;
  limits_.clientBacklog = clientBytes;
  limits_.totalBacklog = totalBytes;
  limits_.drainTimeout = drainTimeout;
  return 0;
}

int EngineCore::listen(const std::string& path) {
  if (shutDown_) return ECANCELED;
  if (server_) return EBUSY;
  // Server events are carried to the platform thread; those that arrive
  // after the engine is gone find nothing to do.
  auto events = [weak = weak_from_this(), runner = runner_](ServerEvent event) {
    runner.post([weak, event = std::move(event)]() mutable {
      if (auto core = weak.lock()) core->onServerEvent(event);
    });
  };
  int error = 0;
  server_ = MessengerServer::listen(path, limits_, std::move(events), &error);
  return error;
}

void EngineCore::reloadSystemFonts() {
  static constexpr char kFontsChange[] = R"({"type":"fontsChange"})";
  send("flutter/system", reinterpret_cast<const uint8_t*>(kFontsChange), sizeof kFontsChange - 1, nullptr, nullptr);
}

void EngineCore::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (auto onDestroyed = registrar_.onDestroyed) {
    registrar_.onDestroyed = nullptr;
    onDestroyed(&registrar_);
  }
  handlers_.clear();
  {
    // Waits for an answer being sent from another thread; later ones find
    // the messenger without its engine and are dropped.
    std::lock_guard lock(messenger_->mutex);
    messenger_->core = nullptr;
  }
  std::exchange(messenger_, nullptr)->release();
  server_.reset();
  sessions_.clear();
  {
    std::lock_guard lock(responsesMutex_);
    responses_.clear();
  }
  // Whoever waits for an answer is told that none will come, so nothing it
  // allocated for the reply is left behind.
  auto outgoing = std::move(outgoing_);
  outgoing_.clear();
  for (auto& [id, entry] : outgoing) entry.reply(nullptr, 0, entry.userData);
}

}  // namespace halvix::flutter_engine
