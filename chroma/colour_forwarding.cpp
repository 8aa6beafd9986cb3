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

std::uint64_t WaitingCalls::enter(std::size_t slot) {
  const std::uint64_t number = nextNumber_++;
  marks_[slot].store(number << kHolderBits | 2);
  return number;
}

void WaitingCalls::clear(std::size_t slot, std::uint64_t number) {
  std::uint64_t mark = marks_[slot].load();
  while (mark >> kHolderBits == number && mark != 0 && !marks_[slot].compare_exchange_weak(mark, 0)) {
  }
}

void WaitingCalls::letGo(std::size_t slot, std::uint64_t number) {
  std::uint64_t mark = marks_[slot].load();
  while (mark >> kHolderBits == number && mark != 0) {
    const std::uint64_t holders = mark & ((1u << kHolderBits) - 1);
    if (marks_[slot].compare_exchange_weak(mark, holders <= 1 ? 0 : mark - 1)) return;
  }
}

LampCall::LampCall(std::shared_ptr<WaitingCalls> waiting, std::size_t slot, std::weak_ptr<BridgeState> state)
    : waiting_(std::move(waiting)), slot_(slot), state_(std::move(state)) {}

void LampCall::answered(std::uint64_t handOver, sdk::PlateCallArgs& args) {
  waiting_->clear(slot_, handOver);
  if (slot_ != WaitingCalls::kBroadcastSlot) {
    reportDeviceAnswer(args);
    return;
  }
  // A reply that comes after the bridge is gone is dropped unread.
  if (const std::shared_ptr<BridgeState> bridge = state_.lock()) sendPackedAnswer(*bridge, args);
}

void LampCall::letGo(std::uint64_t handOver) { waiting_->letGo(slot_, handOver); }

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
  calls_.resize(ChromaRelayState::kSlotCount + 1);
}

void ColourForwarder::OnColorTick(sdk::CorvelNative* native, const std::shared_ptr<BridgeState>& state) {
  if (!native || !state) return;
  if (native != marksNative_ || native->activationsStarted() != marksActivation_) {
    waiting_ = std::make_shared<WaitingCalls>();
    for (std::shared_ptr<LampCall>& call : calls_) call.reset();
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

void ColourForwarder::handOver(sdk::CorvelNative& native, std::size_t slot, const std::shared_ptr<BridgeState>* state) {
  std::shared_ptr<LampCall>& call = calls_[slot];
  if (!call || (state && !call->sendsTo(*state))) {
    std::weak_ptr<BridgeState> replies;
    if (state) replies = *state;
    call = std::make_shared<LampCall>(waiting_, slot, std::move(replies));
  }
  // The slot is not waiting: the call's last task has read its bytes.
  call->packedCall.assign(call_.data(), call_.size());
  native.forwardPlateCall(call, waiting_->enter(slot));
}

void ColourForwarder::SendDeviceColors(sdk::CorvelNative& native) {
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (waiting_->waiting(targetSlots_[i])) continue;
    pack(kSetColourMethod, targets_[i]);
    handOver(native, targetSlots_[i], nullptr);
  }
}

void ColourForwarder::SendPackedColor(sdk::CorvelNative& native, const std::shared_ptr<BridgeState>& state) {
  if (targets_.empty() || waiting_->waiting(WaitingCalls::kBroadcastSlot)) return;
  pack(kSetColourPackedMethod, targets_.front());
  handOver(native, WaitingCalls::kBroadcastSlot, &state);
}

}  // namespace halvix::chroma
