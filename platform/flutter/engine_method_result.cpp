#include "platform/flutter/engine_method_result.h"

#include <chrono>
#include <iostream>

#include "platform/flutter/repeated_warning.h"

namespace flutter::internal {

namespace {

// The process's one record of unanswered results: a host that leaves many
// calls unanswered (every forwarded call while no activation runs) gets a
// handful of lines, then one every ten seconds, instead of one per call.
RepeatedWarning& unansweredWarning() {
  static RepeatedWarning warning("Warning: Failed to respond to a message. This is a memory leak.", 10,
                                 std::chrono::seconds(10));
  return warning;
}

}  // namespace

ReplyManager::ReplyManager(BinaryReply reply_handler) : reply_handler_(std::move(reply_handler)) {}

// Not answered "not implemented": the Dart side would get a reply it never
// had for such a call. Dropping the handler lets the engine forget the
// message instead (see BinaryMessengerImpl).
ReplyManager::~ReplyManager() {
  if (!answered_.load() && reply_handler_) {
    if (auto line = unansweredWarning().occur(RepeatedWarning::Clock::now())) std::cerr << *line << std::endl;
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
