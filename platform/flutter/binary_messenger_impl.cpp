#include "platform/flutter/binary_messenger_impl.h"

#include <iostream>
#include <memory>

#include "platform/flutter/engine_api.h"

namespace flutter {

namespace {

void forwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message, void* user_data) {
  auto* response_handle = message->response_handle;
  BinaryReply reply_handler = [messenger, response_handle](const uint8_t* reply, size_t reply_size) mutable {
    if (!response_handle) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate response." << std::endl;
      return;
    }
    EngineApi().FlutterDesktopMessengerSendResponse(messenger, response_handle, reply, reply_size);
    response_handle = nullptr;
  };
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
