#pragma once
// The BinaryMessenger over the engine's C messenger.
#include <map>
#include <string>

#include "platform/flutter/binary_messenger.h"
#include "platform/flutter_api/flutter_windows.h"

namespace flutter {

class BinaryMessengerImpl : public BinaryMessenger {
 public:
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef core_messenger) : messenger_(core_messenger) {}
  // Removes the handlers it installed, so the engine never calls into a
  // messenger that is gone.
  ~BinaryMessengerImpl() override;
  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  std::map<std::string, BinaryMessageHandler> handlers_;
};

}  // namespace flutter
