#include "chroma/colour_forwarding.h"

#include <cstdio>
#include <utility>

#include "chroma/chroma_bridge.h"

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

void WaitingCalls::Ticket::clear() const {
  std::uint64_t expected = number_;
  owner_->marks_[slot_].compare_exchange_strong(expected, 0);
}

std::shared_ptr<WaitingCalls::Ticket> WaitingCalls::enter(std::size_t slot) {
  const std::uint64_t number = nextNumber_++;
  marks_[slot].store(number);
  return std::make_shared<Ticket>(shared_from_this(), slot, number);
}

std::optional<PackedReply> ParsePackedReply(std::string_view reply) {
  const std::size_t first = reply.find(kTab);
  if (first == std::string_view::npos || first + 1 == reply.size()) return std::nullopt;
  const std::size_t second = reply.find(kTab, first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  return PackedReply{std::string(reply.substr(0, first)), readPort(reply.substr(first + 1, second - first - 1)),
                     std::string(reply.substr(second + 1))};
}

ColourForwarder::ColourForwarder()
    : waiting_(std::make_shared<WaitingCalls>()), colourMap_{{"b", 0}, {"g", 0}, {"r", 0}} {
  targets_.reserve(ChromaRelayState::kSlotCount);
  targetSlots_.reserve(ChromaRelayState::kSlotCount);
}

void ColourForwarder::OnColorTick(sdk::CorvelNative* native, const std::shared_ptr<BridgeState>& state) {
  if (!native || !state) return;
  if (native != marksNative_ || native->activationsStarted() != marksActivation_) {
    waiting_ = std::make_shared<WaitingCalls>();
    marksNative_ = native;
    marksActivation_ = native->activationsStarted();
  }
  CollectTargets(state->relay);
  if (state->relay.broadcastEnabled())
    SendPackedColor(*native, state);
  else
    SendDeviceColors(*native);
}

void ColourForwarder::CollectTargets(const ChromaRelayState& relay) {
  std::size_t count = 0;
  auto add = [&](std::string_view identifier, std::size_t slot) {
    if (count < targets_.size())
      targets_[count].assign(identifier);
    else
      targets_.emplace_back(identifier);
    targetSlots_.resize(count + 1);
    targetSlots_[count] = slot;
    ++count;
  };
  if (relay.broadcastEnabled()) {
    add(relay.broadcastDeviceId(), WaitingCalls::kBroadcastSlot);
  } else {
    for (std::size_t i = 0; i < ChromaRelayState::kSlotCount; ++i) {
      const std::string_view slot = relay.deviceSlot(i);
      if (!slot.empty()) add(slot, i);
    }
  }
  targets_.resize(count);
  targetSlots_.resize(count);
  const ChromaColour colour = relay.colour();
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
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (waiting_->waiting(targetSlots_[i])) continue;
    native.forwardPlateCall(
        [ticket = waiting_->enter(targetSlots_[i])](sdk::PlateCallArgs& args) {
          ticket->clear();
          reportDeviceAnswer(args);
        },
        pack(kSetColourMethod, targets_[i]));
  }
}

void ColourForwarder::SendPackedColor(sdk::CorvelNative& native, std::weak_ptr<BridgeState> state) {
  if (targets_.empty() || waiting_->waiting(WaitingCalls::kBroadcastSlot)) return;
  // A reply that comes after the bridge is gone is dropped unread.
  native.forwardPlateCall(
      [state = std::move(state), ticket = waiting_->enter(WaitingCalls::kBroadcastSlot)](sdk::PlateCallArgs& args) {
        ticket->clear();
        if (const std::shared_ptr<BridgeState> bridge = state.lock()) sendPackedAnswer(*bridge, args);
      },
      pack(kSetColourPackedMethod, targets_.front()));
}

}  // namespace halvix::chroma
