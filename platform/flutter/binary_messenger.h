#pragma once
// Raw channel messages: send to the Dart side, receive from it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Answers a message: called at most once, with no data for "not implemented".
typedef std::function<void(const uint8_t* reply, size_t reply_size)> BinaryReply;
typedef std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)> BinaryMessageHandler;

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply = nullptr) const = 0;
  // A null handler removes the channel's handler.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace flutter
