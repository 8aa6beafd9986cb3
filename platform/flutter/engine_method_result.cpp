#include "platform/flutter/engine_method_result.h"

#include <iostream>

namespace flutter::internal {

ReplyManager::ReplyManager(BinaryReply reply_handler) : reply_handler_(std::move(reply_handler)) {}

ReplyManager::~ReplyManager() {
  if (!answered_.load() && reply_handler_) {
    // Warn, rather than answer "not implemented": the engine may be gone.
    std::cerr << "Warning: Failed to respond to a message. This is a memory leak." << std::endl;
  }
}

void ReplyManager::SendResponseData(const std::vector<uint8_t>* data) {
  if (answered_.exchange(true) || !reply_handler_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be called,"
              << " and it can be called exactly once. Ignoring duplicate result." << std::endl;
    return;
  }
  const uint8_t* message = data && !data->empty() ? data->data() : nullptr;
  size_t message_size = data ? data->size() : 0;
  BinaryReply handler = std::move(reply_handler_);
  reply_handler_ = nullptr;
  handler(message, message_size);
}

}  // namespace flutter::internal
