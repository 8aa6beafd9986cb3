#include "chroma/colour_forwarding.h"

#include <cstdio>
#include <utility>

namespace halvix::chroma {
namespace {

constexpr char kTab = '\t';

bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi's reading (white space, sign, digits up to the first other byte, none
// giving 0), kept modulo 65536 so that no length of digits can overflow.
std::uint16_t readPort(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint16_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = static_cast<std::uint16_t>(value * 10u + static_cast<unsigned>(text[i] - '0'));
  return negative ? static_cast<std::uint16_t>(0u - value) : value;
}

void reportDeviceAnswer(sdk::PlateCallArgs& args) {
  bool ok = false;
  if (args.get(0, ok) && ok) return;
  std::string message;
  if (!args.get(1, message)) message.clear();
  std::printf("setColor failed: %s\n", message.c_str());
  std::fflush(stdout);
}

void sendPackedAnswer(BridgeState& bridge, sdk::PlateCallArgs& args) {
  std::string reply;
  if (!args.get(0, reply)) {
    std::printf("setColorWithoutResponsePackedData failed\n");
    std::fflush(stdout);
    return;
  }
  std::printf("got data size:%d\n", static_cast<int>(reply.size()));
  std::fflush(stdout);
  if (reply.empty()) return;
  std::optional<PackedReply> parsed = ParsePackedReply(reply);
  if (!parsed) return;
  // The first reply fixes the destination; later ones only bring payloads.
  if (bridge.sender.port() == 0) bridge.sender.Configure(parsed->address, parsed->port);
  bridge.sender.Send(parsed->payload);
}

}  // namespace

std::optional<PackedReply> ParsePackedReply(std::string_view reply) {
  const std::size_t first = reply.find(kTab);
  if (first == std::string_view::npos || first + 1 == reply.size()) return std::nullopt;
  const std::size_t second = reply.find(kTab, first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  return PackedReply{std::string(reply.substr(0, first)), readPort(reply.substr(first + 1, second - first - 1)),
                     std::string(reply.substr(second + 1))};
}

ColourForwarder::ColourForwarder() : colourMap_{{"b", 0}, {"g", 0}, {"r", 0}} { targets_.reserve(ChromaRelayState::kSlotCount); }

void ColourForwarder::OnColorTick(sdk::CorvelNative* native, const std::shared_ptr<BridgeState>& state) {
  if (!native || !state) return;
  CollectTargets(state->relay);
  if (state->relay.broadcastEnabled())
    SendPackedColor(*native, state);
  else
    SendDeviceColors(*native);
}

void ColourForwarder::CollectTargets(const ChromaRelayState& relay) {
  std::size_t count = 0;
  auto add = [&](std::string_view identifier) {
    if (count < targets_.size())
      targets_[count].assign(identifier);
    else
      targets_.emplace_back(identifier);
    ++count;
  };
  if (relay.broadcastEnabled()) {
    add(relay.broadcastDeviceId());
  } else {
    for (std::size_t i = 0; i < ChromaRelayState::kSlotCount; ++i) {
      const std::string_view slot = relay.deviceSlot(i);
      if (!slot.empty()) add(slot);
    }
  }
  targets_.resize(count);
  const ChromaColor colour = relay.color();
  colourMap_.find("b")->second = colour.blue;
  colourMap_.find("g")->second = colour.green;
  colourMap_.find("r")->second = colour.red;
}

const msgpack::sbuffer& ColourForwarder::pack(const char* method, const std::string& identifier) {
  call_.clear();
  msgpack::packer<msgpack::sbuffer> packer(call_);
  packer.pack_array(4);
  packer.pack(kRazerControlPath);
  packer.pack(method);
  packer.pack(identifier);
  packer.pack(colourMap_);
  return call_;
}

void ColourForwarder::SendDeviceColors(sdk::CorvelNative& native) {
  for (const std::string& identifier : targets_) native.forwardPlateCall(reportDeviceAnswer, pack(kSetColorMethod, identifier));
}

void ColourForwarder::SendPackedColor(sdk::CorvelNative& native, std::weak_ptr<BridgeState> state) {
  if (targets_.empty()) return;
  // A reply that comes after the bridge is gone is dropped unread.
  native.forwardPlateCall(
      [state = std::move(state)](sdk::PlateCallArgs& args) {
        if (const std::shared_ptr<BridgeState> bridge = state.lock()) sendPackedAnswer(*bridge, args);
      },
      pack(kSetColorPackedMethod, targets_.front()));
}

}  // namespace halvix::chroma
