// The C entry points of the engine stand-in.
#include <cerrno>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/flutter_api/flutter_windows.h"
#include "standins/flutter_engine/engine_core.h"
#include "platform/flutter_api/stand_in_api.h"

using halvix::flutter_engine::EngineCore;
using halvix::flutter_engine::PlatformRunner;

namespace {

uint64_t responseIdOf(const FlutterDesktopMessageResponseHandle* handle) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

// The platform thread that engines created from now on post to, as the
// host last set it.
struct PlatformTaskRunner {
  std::mutex mutex;
  std::optional<PlatformRunner> runner;
};

PlatformTaskRunner& platformTaskRunner() {
  static PlatformTaskRunner current;
  return current;
}

}  // namespace

extern "C" {

bool HalvixFlutterSetPlatformTaskRunner(const HalvixFlutterTaskRunner* runner) {
  if (runner && !PlatformRunner::usable(runner)) return false;
  auto& current = platformTaskRunner();
  std::lock_guard lock(current.mutex);
  if (runner)
    current.runner.emplace(*runner);
  else
    current.runner.reset();
  return true;
}

// Without a runner lent by the host, the calling thread's message loop is
// the platform thread, as with Flutter's own engine.
FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties) {
  auto engine = std::make_unique<FlutterDesktopEngine>();
  if (engine_properties && engine_properties->dart_entrypoint_argv) {
    for (int i = 0; i < engine_properties->dart_entrypoint_argc; ++i) {
      const char* argument = engine_properties->dart_entrypoint_argv[i];
      engine->arguments.emplace_back(argument ? argument : "");
    }
  }
  auto& current = platformTaskRunner();
  std::lock_guard lock(current.mutex);
  if (current.runner) {
    engine->core = std::make_shared<EngineCore>(*current.runner);
  } else {
    engine->windowRunner = halvix::flutter_engine::WindowTaskRunner::create();
    if (!engine->windowRunner) {
      std::cerr << "engine stand-in: no message window for the platform thread; the engine is not created"
                << std::endl;
      return nullptr;
    }
    engine->core = std::make_shared<EngineCore>(PlatformRunner(engine->windowRunner->runner()));
  }
  return engine.release();
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  if (!engine) return false;
  engine->core->shutdown();
  engine->core.reset();
  engine->windowRunner.reset();
  delete engine;
  return true;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                       const char* plugin_name) {
  (void)plugin_name;  // one registrar serves every plugin, as on Windows
  return engine ? engine->core->registrar() : nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine ? engine->core->messenger() : nullptr;
}

int HalvixFlutterEngineListen(FlutterDesktopEngineRef engine, const char* path) {
  if (!engine || !path) return EINVAL;
  return engine->core->listen(path);
}

int HalvixFlutterEngineSetFrameTimeout(FlutterDesktopEngineRef engine, uint32_t milliseconds) {
  if (!engine) return EINVAL;
  return engine->core->setFrameTimeout(std::chrono::milliseconds(milliseconds));
}

int HalvixFlutterEngineSetBacklogLimits(FlutterDesktopEngineRef engine, size_t client_bytes, size_t total_bytes,
                                        uint32_t drain_timeout_ms) {
  if (!engine) return EINVAL;
  return engine->core->setBacklogLimits(client_bytes, total_bytes, std::chrono::milliseconds(drain_timeout_ms));
}

// Sends to every connected Dart-side client; false when none is connected.
bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 const size_t message_size) {
  if (!messenger || !messenger->core || !channel) return false;
  return messenger->core->send(channel, message, message_size, nullptr, nullptr);
}

// The reply is the first client's answer, or no data when every client went
// away without answering.
bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  if (!messenger || !messenger->core || !channel) return false;
  return messenger->core->send(channel, message, message_size, reply, user_data);
}

// Any thread: the answer is carried over to the platform thread.
void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_length) {
  if (!messenger || !handle) return;
  halvix::flutter_engine::ReplyFrame reply(data, data ? data_length : 0);
  std::lock_guard lock(messenger->mutex);
  if (messenger->core) messenger->core->postResponse(responseIdOf(handle), std::move(reply));
}

void HalvixFlutterMessengerDiscardResponse(FlutterDesktopMessengerRef messenger,
                                           const FlutterDesktopMessageResponseHandle* handle) {
  if (!messenger || !handle) return;
  std::lock_guard lock(messenger->mutex);
  if (messenger->core) messenger->core->postResponse(responseIdOf(handle), std::nullopt);
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!messenger || !messenger->core || !channel) return;
  messenger->core->setCallback(channel, callback, user_data);
}

#ifndef HALVIX_ENGINE_WITHOUT_MESSENGER_REFERENCES
FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  return messenger ? messenger->addRef() : nullptr;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->release();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (!messenger) return false;
  std::lock_guard lock(messenger->mutex);
  return messenger->core != nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->mutex.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->mutex.unlock();
}
#endif

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar) {
  return registrar ? registrar->core->messenger() : nullptr;
}

void FlutterDesktopPluginRegistrarSetDestructionHandler(FlutterDesktopPluginRegistrarRef registrar,
                                                        FlutterDesktopOnPluginRegistrarDestroyed callback) {
  if (registrar) registrar->onDestroyed = callback;
}

}  // extern "C"
