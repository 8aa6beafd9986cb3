// The C entry points of the engine stand-in.
#include <cerrno>
#include <memory>

#include "platform/flutter_engine/engine_core.h"
#include "platform/flutter_engine/engine_loop.h"
#include "platform/flutter_engine/flutter_windows.h"

using halvix::flutter_engine::EngineCore;

namespace {

uint64_t responseIdOf(const FlutterDesktopMessageResponseHandle* handle) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

}  // namespace

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties) {
  (void)engine_properties;
  auto engine = std::make_unique<FlutterDesktopEngine>();
  engine->ownedLoop = std::make_unique<boost::asio::io_context>(1);
  engine->core = std::make_shared<EngineCore>(*engine->ownedLoop);
  return engine.release();
}

FlutterDesktopEngineRef HalvixFlutterEngineCreateOnLoop(const FlutterDesktopEngineProperties* properties,
                                                       boost::asio::io_context* loop) {
  (void)properties;
  if (!loop) return nullptr;
  auto engine = std::make_unique<FlutterDesktopEngine>();
  engine->core = std::make_shared<EngineCore>(*loop);
  return engine.release();
}

boost::asio::io_context* HalvixFlutterEngineGetLoop(FlutterDesktopEngineRef engine) {
  return engine ? &engine->core->loop() : nullptr;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  if (!engine) return false;
  engine->core->shutdown();
  engine->core.reset();
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

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 const size_t message_size) {
  if (!messenger || !channel) return false;
  return messenger->core->send(channel, message, message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  if (!messenger || !channel) return false;
  return messenger->core->send(channel, message, message_size, reply, user_data);
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_length) {
  if (!messenger || !handle) return;
  std::vector<uint8_t> bytes;
  if (data && data_length) bytes.assign(data, data + data_length);
  messenger->core->postResponse(responseIdOf(handle), std::move(bytes));
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!messenger || !channel) return;
  messenger->core->setCallback(channel, callback, user_data);
}

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar) {
  return registrar ? registrar->core->messenger() : nullptr;
}

void FlutterDesktopPluginRegistrarSetDestructionHandler(FlutterDesktopPluginRegistrarRef registrar,
                                                        FlutterDesktopOnPluginRegistrarDestroyed callback) {
  if (registrar) registrar->onDestroyed = callback;
}

}  // extern "C"
