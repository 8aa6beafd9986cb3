#include "platform/flutter/binary_messenger_impl.h"

#include <atomic>
#include <iostream>
#include <memory>

#include "platform/flutter/engine_api.h"

namespace flutter {

namespace {

// The answer to one message, shared by every copy of its BinaryReply. It
// holds a reference to the messenger, which outlives the engine, so that an
// answer or a destruction that comes after the engine is gone (from a worker
// the host could not stop) is dropped instead of reaching freed memory.
class ResponseSlot {
 public:
  ResponseSlot(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle)
      : messenger_(EngineApi().FlutterDesktopMessengerAddRef(messenger)), handle_(handle) {}
  // Unanswered: the engine is told to forget the message, which its sender
  // then never hears about, as before.
  ~ResponseSlot() {
    if (const auto* handle = handle_.exchange(nullptr)) {
      if (const auto discard = EngineApi().HalvixFlutterMessengerDiscardResponse)
        whileAvailable([&] { discard(messenger_, handle); });
    }
    EngineApi().FlutterDesktopMessengerRelease(messenger_);
  }
  ResponseSlot(const ResponseSlot&) = delete;
  ResponseSlot& operator=(const ResponseSlot&) = delete;

  // Any thread.
  void Send(const uint8_t* reply, size_t reply_size) {
    const auto* handle = handle_.exchange(nullptr);
    if (!handle) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate response." << std::endl;
      return;
    }
    whileAvailable([&] { EngineApi().FlutterDesktopMessengerSendResponse(messenger_, handle, reply, reply_size); });
  }

 private:
  template <typename F>
  void whileAvailable(F action) {
    const auto& api = EngineApi();
    api.FlutterDesktopMessengerLock(messenger_);
    if (api.FlutterDesktopMessengerIsAvailable(messenger_)) action();
    api.FlutterDesktopMessengerUnlock(messenger_);
  }

  FlutterDesktopMessengerRef messenger_;
  std::atomic<const FlutterDesktopMessageResponseHandle*> handle_;
};

void forwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message, void* user_data) {
  auto slot = std::make_shared<ResponseSlot>(messenger, message->response_handle);
  BinaryReply reply_handler = [slot](const uint8_t* reply, size_t reply_size) { slot->Send(reply, reply_size); };
  const auto& handler = *static_cast<BinaryMessageHandler*>(user_data);
  handler(message->message, message->message_size, std::move(reply_handler));
}

void forwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> reply(static_cast<BinaryReply*>(user_data));
  if (*reply) (*reply)(data, data_size);
}

}  // namespace

BinaryMessengerImpl::~BinaryMessengerImpl() {
  for (const auto& [channel, handler] : handlers_)
    EngineApi().FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
}

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message, size_t message_size,
                               BinaryReply reply) const {
  if (!reply) {
    EngineApi().FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto captured = std::make_unique<BinaryReply>(std::move(reply));
  if (EngineApi().FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                                       forwardReply, captured.get()))
    captured.release();  // the engine calls forwardReply exactly once, which frees it
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    EngineApi().FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    return;
  }
  // std::map nodes do not move, so the address stays valid for the engine.
  auto& stored = handlers_[channel];
  stored = std::move(handler);
  EngineApi().FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), forwardToHandler, &stored);
}

}  // namespace flutter
