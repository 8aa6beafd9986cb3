#pragma once
// A named channel carrying method calls, encoded with a MethodCodec, over a
// BinaryMessenger.
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/engine_method_result.h"
#include "platform/flutter/method_call.h"
#include "platform/flutter/method_codec.h"
#include "platform/flutter/method_result.h"

namespace flutter {

template <typename T>
using MethodCallHandler = std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

template <typename T>
class MethodChannel {
 public:
  // Neither the messenger nor the codec is owned; both must outlive the
  // handler's installation.
  MethodChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  void InvokeMethod(const std::string& method, std::unique_ptr<T> arguments,
                    std::unique_ptr<MethodResult<T>> result = nullptr) {
    MethodCall<T> call(method, std::move(arguments));
    auto message = codec_->EncodeMethodCall(call);
    if (!result) {
      messenger_->Send(name_, message->data(), message->size(), nullptr);
      return;
    }
    std::shared_ptr<MethodResult<T>> shared_result(std::move(result));
    const MethodCodec<T>* codec = codec_;
    std::string name = name_;
    BinaryReply on_reply = [shared_result, codec, name](const uint8_t* reply, size_t reply_size) {
      if (!codec->DecodeAndProcessResponseEnvelope(reply, reply_size, shared_result.get()))
        std::cerr << "Unable to decode the reply on channel " << name << std::endl;
    };
    messenger_->Send(name_, message->data(), message->size(), std::move(on_reply));
  }

  // The handler stays installed on the messenger after the channel object is
  // gone; a null handler removes it.
  void SetMethodCallHandler(MethodCallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    const MethodCodec<T>* codec = codec_;
    std::string channel_name = name_;
    BinaryMessageHandler binary_handler = [handler, codec, channel_name](const uint8_t* message, size_t message_size,
                                                                         BinaryReply reply) {
      auto result = std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
      std::unique_ptr<MethodCall<T>> method_call = codec->DecodeMethodCall(message, message_size);
      if (!method_call) {
        std::cerr << "Unable to construct method call from message on channel " << channel_name << std::endl;
        result->NotImplemented();
        return;
      }
      handler(*method_call, std::move(result));
    };
    messenger_->SetMessageHandler(name_, std::move(binary_handler));
  }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
