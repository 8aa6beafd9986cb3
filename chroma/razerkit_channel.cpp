#include "chroma/razerkit_channel.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/flutter/method_channel.h"
#include "platform/flutter/standard_codec.h"

namespace halvix::chroma {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

const EncodableValue* lookup(const EncodableMap& map, const char* key) {
  auto it = map.find(EncodableValue(key));
  return it == map.end() ? nullptr : &it->second;
}

std::string refusalText(DeviceChange change, std::size_t longest) {
  switch (change) {
    case DeviceChange::TooLong:
      return "uuid is longer than " + std::to_string(longest) + " bytes";
    case DeviceChange::HasNul:
      return "uuid contains a NUL byte";
    case DeviceChange::Done:
      break;
  }
  return "";
}

}  // namespace

std::optional<DeviceArguments> ParseDeviceArguments(const flutter::MethodCall<EncodableValue>& call) {
  const EncodableValue* arguments = call.arguments();
  if (!arguments || !std::holds_alternative<EncodableMap>(*arguments)) return std::nullopt;
  const auto& map = std::get<EncodableMap>(*arguments);
  const EncodableValue* uuid = lookup(map, "uuid");
  const EncodableValue* enable = lookup(map, "enable");
  if (!uuid || !enable) return std::nullopt;
  DeviceArguments parsed;
  if (const auto* text = std::get_if<std::string>(uuid)) parsed.uuid = *text;
  if (const auto* flag = std::get_if<bool>(enable)) parsed.enable = *flag;
  return parsed;
}

void HandleRazerKitCall(ChromaRelayState& state, BroadcastSender& sender,
                        const flutter::MethodCall<EncodableValue>& call,
                        std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
  const std::string& method = call.method_name();
  if (method == "enableChromaConnect") {
    const std::optional<DeviceArguments> arguments = ParseDeviceArguments(call);
    if (!arguments) {
      result->Error(kArgumentsError);
      return;
    }
    // A refused identifier is reported with the reason; nothing changed.
    const DeviceChange change = state.SetDeviceEnabled(arguments->uuid, arguments->enable);
    if (change != DeviceChange::Done) {
      result->Error(kArgumentsError, refusalText(change, ChromaRelayState::kMaxIdentifierLength));
      return;
    }
    result->Success();
  } else if (method == "broadcastChromaConnect") {
    std::optional<DeviceArguments> arguments = ParseDeviceArguments(call);
    if (!arguments) {
      result->Error(kArgumentsError);
      return;
    }
    const DeviceChange change = state.SetBroadcastDevice(arguments->enable, std::move(arguments->uuid));
    if (change != DeviceChange::Done) {
      result->Error(kArgumentsError, refusalText(change, ChromaRelayState::kMaxBroadcastIdentifierLength));
      return;
    }
    if (!arguments->enable) sender.Reset();
    result->Success();
  } else if (method == "__test__") {
    std::fputs("__test__\n", stdout);
    std::fflush(stdout);
    result->Success();
  } else {
    result->NotImplemented();
  }
}

void registerRazerKitChannel(flutter::BinaryMessenger* messenger, ChromaRelayState& state, BroadcastSender& sender) {
  flutter::MethodChannel<EncodableValue> channel(messenger, kRazerKitChannelName,
                                                 &flutter::StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([&state, &sender](const auto& call, auto result) {
    HandleRazerKitCall(state, sender, call, std::move(result));
  });
}

}  // namespace halvix::chroma
