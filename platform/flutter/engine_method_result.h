#pragma once
// The MethodResult handed to method-call handlers: encodes the answer with
// the channel's codec and sends it back once. A second answer, and a result
// destroyed without one, print the client wrapper's diagnostics (the latter
// rate-limited).
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/method_codec.h"
#include "platform/flutter/method_result.h"

namespace flutter {

namespace internal {

class ReplyManager {
 public:
  explicit ReplyManager(BinaryReply reply_handler);
  ~ReplyManager();
  ReplyManager(const ReplyManager&) = delete;
  ReplyManager& operator=(const ReplyManager&) = delete;

  // Null or empty data is the "not implemented" answer.
  void SendResponseData(const std::vector<uint8_t>* data);

 private:
  BinaryReply reply_handler_;
  // The answer may come from another thread than the one that drops the
  // result; the flag makes "at most once" hold regardless.
  std::atomic<bool> answered_{false};
};

}  // namespace internal

template <typename T>
class EngineMethodResult : public MethodResult<T> {
 public:
  EngineMethodResult(BinaryReply reply_handler, const MethodCodec<T>* codec)
      : reply_manager_(std::make_unique<internal::ReplyManager>(std::move(reply_handler))), codec_(codec) {}

 protected:
  void SuccessInternal(const T* result) override {
    auto data = codec_->EncodeSuccessEnvelope(result);
    reply_manager_->SendResponseData(data.get());
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const T* error_details) override {
    auto data = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    reply_manager_->SendResponseData(data.get());
  }
  void NotImplementedInternal() override { reply_manager_->SendResponseData(nullptr); }

 private:
  std::unique_ptr<internal::ReplyManager> reply_manager_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
