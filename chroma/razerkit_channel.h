#pragma once
// The channel "com.brisktide.com/razerkit": the Dart side chooses which lamps
// receive the Chroma colour, or the one lamp that receives it through the
// broadcast path. Its handler runs on the platform thread.
#include <memory>
#include <optional>
#include <string>

#include "chroma/broadcast_sender.h"
#include "chroma/chroma_relay_state.h"
#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/encodable_value.h"
#include "platform/flutter/method_call.h"
#include "platform/flutter/method_result.h"

namespace halvix::chroma {

inline constexpr const char* kRazerKitChannelName = "com.brisktide.com/razerkit";
inline constexpr const char* kArgumentsError = "arguments error";

// The argument map of both device methods: {"uuid": string, "enable": bool}.
struct DeviceArguments {
  // Empty when "uuid" is not a string.
  std::string uuid;
  // False when "enable" is not a bool.
  bool enable = false;
};

// Empty when the arguments are absent, not a map, or lack "uuid" or "enable".
std::optional<DeviceArguments> ParseDeviceArguments(const flutter::MethodCall<flutter::EncodableValue>& call);

void HandleRazerKitCall(ChromaRelayState& state, BroadcastSender& sender,
                        const flutter::MethodCall<flutter::EncodableValue>& call,
                        std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

// Opens the channel on `messenger` with the standard method codec. The
// handler stays installed for the messenger's life; `state` and `sender`
// must outlive it.
void registerRazerKitChannel(flutter::BinaryMessenger* messenger, ChromaRelayState& state, BroadcastSender& sender);

}  // namespace halvix::chroma
