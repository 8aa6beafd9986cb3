#pragma once
// Inside the engine stand-in: the channel state behind the C handles. It
// lives on the host's platform thread; the messenger socket's I/O runs on the
// server's own thread and reaches it only as tasks posted to the platform
// thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/flutter_api/flutter_windows.h"
#include "standins/flutter_engine/messenger_server.h"
#include "standins/flutter_engine/platform_runner.h"
#include "standins/flutter_engine/window_task_runner.h"

namespace halvix::flutter_engine {

class EngineCore;

}  // namespace halvix::flutter_engine

struct FlutterDesktopView {
  HWND window = nullptr;
};

// Shared by the engine and whoever holds a reference (Flutter's AddRef and
// Release), so that it outlives the engine: an answer that comes late, from
// another thread, finds it and learns under its lock that the engine is gone.
struct FlutterDesktopMessenger {
  explicit FlutterDesktopMessenger(halvix::flutter_engine::EngineCore* engine) : core(engine) {}
  FlutterDesktopMessenger* addRef() {
    references.fetch_add(1, std::memory_order_relaxed);
    return this;
  }
  void release() {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // Recursive: the wrapper locks around calls that lock again.
  std::recursive_mutex mutex;
  // Null once the engine is destroyed. Written on the platform thread under
  // the lock; read there freely, elsewhere under the lock.
  halvix::flutter_engine::EngineCore* core;
  std::atomic<int> references{1};
};

struct FlutterDesktopPluginRegistrar {
  halvix::flutter_engine::EngineCore* core;
  FlutterDesktopOnPluginRegistrarDestroyed onDestroyed = nullptr;
};

namespace halvix::flutter_engine {

// Platform thread only, except where a member says otherwise.
class EngineCore : public std::enable_shared_from_this<EngineCore> {
 public:
  explicit EngineCore(PlatformRunner runner) : runner_(runner), messenger_(new FlutterDesktopMessenger(this)) {}
  ~EngineCore();
  EngineCore(const EngineCore&) = delete;
  EngineCore& operator=(const EngineCore&) = delete;

  FlutterDesktopMessenger* messenger() { return messenger_; }
  FlutterDesktopPluginRegistrar* registrar() { return &registrar_; }
  // Set while a view controller owns the engine.
  FlutterDesktopView* view() const { return view_; }
  void setView(FlutterDesktopView* view) { view_ = view; }

  void setCallback(const std::string& channel, FlutterDesktopMessageCallback callback, void* userData);
  bool send(const std::string& channel, const uint8_t* message, size_t size, FlutterDesktopBinaryReply reply,
            void* userData);
  // Any thread, with the messenger locked: the answer is handed to the
  // socket's thread; an absent one forgets the message without a reply.
  void postResponse(uint64_t responseId, std::optional<ReplyFrame> reply);

  int setFrameTimeout(std::chrono::milliseconds timeout);
  int setBacklogLimits(size_t clientBytes, size_t totalBytes, std::chrono::milliseconds drainTimeout);
  int listen(const std::string& path);
  // Tells the Dart side, as Flutter does on "flutter/system", that the
  // system's fonts changed.
  void reloadSystemFonts();
  // Registrar destruction handler, then the messenger and the socket; leaves
  // nothing running.
  void shutdown();

 private:
  struct Handler {
    FlutterDesktopMessageCallback callback;
    void* userData;
  };
  struct PendingResponse {
    uint64_t session;
    uint32_t requestId;
    // What the request counts for in its client's backlog until answered.
    size_t cost;
    std::shared_ptr<OutputGate> gate;
  };
  struct OutgoingReply {
    FlutterDesktopBinaryReply reply;
    void* userData;
    std::set<uint64_t> waitingOn;
  };

  void onServerEvent(ServerEvent& event);
  void onFrame(uint64_t session, Frame& frame, size_t cost, std::shared_ptr<OutputGate> gate);
  void settle(uint64_t session, size_t cost, std::vector<uint8_t> reply = {});
  void forgetSession(uint64_t session);
  std::optional<PendingResponse> takeResponse(uint64_t responseId);
  void refuseReply(const PendingResponse& pending, size_t size);
  void finishOutgoing(uint32_t id, const uint8_t* data, size_t size);

  PlatformRunner runner_;
  // One reference is the engine's, given up at shutdown.
  FlutterDesktopMessenger* messenger_;
  FlutterDesktopPluginRegistrar registrar_{this};
  bool shutDown_ = false;
  FlutterDesktopView* view_ = nullptr;
  MessengerLimits limits_;
  std::map<std::string, Handler> handlers_;
  // Clients as the platform thread knows them: opened and not yet closed.
  std::set<uint64_t> sessions_;
  // Answers come from any thread (under the messenger's lock), so the
  // requests waiting for them are the one part kept under a lock of its own.
  std::mutex responsesMutex_;
  std::map<uint64_t, PendingResponse> responses_;
  uint64_t nextResponseId_ = 1;
  std::map<uint32_t, OutgoingReply> outgoing_;
  uint32_t nextOutgoingId_ = 1;
  std::unique_ptr<MessengerServer> server_;
};

}  // namespace halvix::flutter_engine

struct FlutterDesktopEngine {
  std::shared_ptr<halvix::flutter_engine::EngineCore> core;
  // The Dart entry point's arguments, read when a view controller runs the
  // engine.
  std::vector<std::string> arguments;
  // The platform thread when the host lent none; goes after the core, and
  // runs what is still queued as it goes.
  std::shared_ptr<halvix::flutter_engine::WindowTaskRunner> windowRunner;
};
