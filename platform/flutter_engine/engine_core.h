#pragma once
// Inside the engine stand-in: the platform-loop state behind the C handles.
// Everything here runs on the platform loop's thread, except Post-based entry
// points named as such.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>

#include "platform/flutter_engine/flutter_windows.h"
#include "platform/flutter_engine/messenger_framing.h"

namespace halvix::flutter_engine {

class EngineCore;
class ClientSession;

}  // namespace halvix::flutter_engine

struct FlutterDesktopMessenger {
  halvix::flutter_engine::EngineCore* core;
};

struct FlutterDesktopPluginRegistrar {
  halvix::flutter_engine::EngineCore* core;
  FlutterDesktopOnPluginRegistrarDestroyed onDestroyed = nullptr;
};

namespace halvix::flutter_engine {

class EngineCore : public std::enable_shared_from_this<EngineCore> {
 public:
  explicit EngineCore(boost::asio::io_context& loop) : loop_(loop) {}
  ~EngineCore();

  boost::asio::io_context& loop() { return loop_; }
  FlutterDesktopMessenger* messenger() { return &messenger_; }
  FlutterDesktopPluginRegistrar* registrar() { return &registrar_; }

  void setCallback(const std::string& channel, FlutterDesktopMessageCallback callback, void* userData);
  bool send(const std::string& channel, const uint8_t* message, size_t size, FlutterDesktopBinaryReply reply,
            void* userData);
  // Any thread: the answer is posted to the loop.
  void postResponse(uint64_t responseId, std::vector<uint8_t> data);

  int listen(const std::string& path);
  // Registrar destruction handler, then sockets; leaves nothing running.
  void shutdown();

  // From client sessions.
  void onFrame(ClientSession& session, Frame& frame);
  void dropSession(uint64_t sessionId);

 private:
  struct Handler {
    FlutterDesktopMessageCallback callback;
    void* userData;
  };
  struct PendingResponse {
    uint64_t session;
    uint32_t requestId;
  };
  struct OutgoingReply {
    FlutterDesktopBinaryReply reply;
    void* userData;
    std::set<uint64_t> waitingOn;
  };

  void accept();
  void deliverResponse(uint64_t responseId, const std::vector<uint8_t>& data);
  void finishOutgoing(uint32_t id, const uint8_t* data, size_t size);

  boost::asio::io_context& loop_;
  FlutterDesktopMessenger messenger_{this};
  FlutterDesktopPluginRegistrar registrar_{this};
  bool shutDown_ = false;
  std::map<std::string, Handler> handlers_;
  std::map<uint64_t, PendingResponse> responses_;
  uint64_t nextResponseId_ = 1;
  std::map<uint32_t, OutgoingReply> outgoing_;
  uint32_t nextOutgoingId_ = 1;
  std::unique_ptr<boost::asio::local::stream_protocol::acceptor> acceptor_;
  std::string socketPath_;
  std::map<uint64_t, std::shared_ptr<ClientSession>> sessions_;
  uint64_t nextSessionId_ = 1;
};

}  // namespace halvix::flutter_engine

struct FlutterDesktopEngine {
  std::unique_ptr<boost::asio::io_context> ownedLoop;
  std::shared_ptr<halvix::flutter_engine::EngineCore> core;
};
