#pragma once
// Carries the current Chroma colour to the lamps through the Lua
// application's lamp control, ten times a second: one call per enabled lamp,
// or one call for the broadcast lamp, whose answer is a ready-made datagram
// that the host sends itself.
//
// Packed call (MessagePack, shortest forms):
//   [ "api.razerkit.razer_halvix_control", method, identifier, {"b": B, "g": G, "r": R} ]
// Packed-data reply: address TAB port TAB payload (payload: any bytes, may be empty).
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <msgpack.hpp>

#include "chroma/chroma_relay_state.h"
#include "sdk/corvel_native.h"

namespace halvix::chroma {

inline constexpr const char* kRazerControlPath = "api.razerkit.razer_halvix_control";
inline constexpr const char* kSetColourMethod = "setColorWithoutResponse";
inline constexpr const char* kSetColourPackedMethod = "setColorWithoutResponsePackedData";

// The bridge's shared state (chroma_bridge.h), which a tick reads and a
// broadcast reply's completion holds weakly.
struct BridgeState;

struct PackedReply {
  std::string address;
  std::uint16_t port = 0;
  std::string payload;
};

// Splits a packed-data reply; empty with fewer than two TABs or when the
// first TAB is the last byte. The port is read as atoi reads it, modulo 65536.
std::optional<PackedReply> ParsePackedReply(std::string_view reply);

// Which lamps have a colour call that the application has not run yet, so
// that a slow application is never handed more than one per lamp: a lamp
// still waiting is skipped, and the next tick brings it the latest colour.
// Slots 0 to 127 are the device table's, the last is the broadcast lamp's.
// Shared with the calls' completions, which may outlive the forwarder.
//
// A mark is the number of the call it waits for, with the count of that
// call's holders still alive (its queued task and its Lua callback object):
// it is cleared when the call's completion runs or, for a call dropped
// unrun, when the last holder goes. Only its own mark is cleared: a later
// call on the slot keeps its own.
class WaitingCalls {
 public:
  static constexpr std::size_t kBroadcastSlot = ChromaRelayState::kSlotCount;

  bool waiting(std::size_t slot) const { return marks_[slot].load() != 0; }
  // Marks the slot as waiting for a new call, held twice; returns the
  // call's number. Platform thread.
  std::uint64_t enter(std::size_t slot);
  // The call's completion has run.
  void clear(std::size_t slot, std::uint64_t number);
  // One holder of the call is gone.
  void letGo(std::size_t slot, std::uint64_t number);

 private:
  static constexpr unsigned kHolderBits = 2;
  std::array<std::atomic<std::uint64_t>, ChromaRelayState::kSlotCount + 1> marks_{};
  std::uint64_t nextNumber_ = 1;
};

// One lamp's colour call, handed over tick after tick: its packed bytes are
// rewritten in place, and its completion needs nothing of its own.
class LampCall final : public sdk::ReusablePlateCall {
 public:
  // `state` is set for the broadcast lamp only: its replies go to the bridge,
  // if it still exists.
  LampCall(std::shared_ptr<WaitingCalls> waiting, std::size_t slot, std::weak_ptr<BridgeState> state = {});

  void answered(std::uint64_t handOver, sdk::PlateCallArgs& args) override;
  void letGo(std::uint64_t handOver) override;
  bool sendsTo(const std::shared_ptr<BridgeState>& state) const {
    return !state_.owner_before(state) && !state.owner_before(state_);
  }

 private:
  const std::shared_ptr<WaitingCalls> waiting_;
  const std::size_t slot_;
  const std::weak_ptr<BridgeState> state_;
};

// The packing side of one tick, with what it reuses from tick to tick.
class ColourForwarder {
 public:
  ColourForwarder();

  // One tick: nothing without an SDK runtime object; otherwise the colour
  // goes to every target. Platform thread.
  void OnColorTick(sdk::CorvelNative* native, const std::shared_ptr<BridgeState>& state);

  // The identifiers the tick addresses, in order: the broadcast lamp alone
  // when broadcast is on (even an empty identifier), else every stored one.
  void CollectTargets(const ChromaRelayState& relay);
  const std::vector<std::string>& targets() const { return targets_; }
  const WaitingCalls& waitingCalls() const { return *waiting_; }

  void SendDeviceColors(sdk::CorvelNative& native);
  void SendPackedColor(sdk::CorvelNative& native, const std::shared_ptr<BridgeState>& state);

  // The packed call for one lamp with the colour last collected.
  const msgpack::sbuffer& pack(const char* method, const std::string& identifier);

 private:
  std::vector<std::string> targets_;
  // The slot of each target (WaitingCalls' numbering).
  std::vector<std::size_t> targetSlots_;
  std::shared_ptr<WaitingCalls> waiting_;
  // Each slot's call, made on its first use with the current marks; calls
  // still queued into an earlier activation keep their own.
  std::vector<std::shared_ptr<LampCall>> calls_;
  // The activation the marks belong to: calls queued into an earlier one
  // never run, and must not hold their lamps back.
  const sdk::CorvelNative* marksNative_ = nullptr;
  std::uint64_t marksActivation_ = 0;
  std::map<std::string, std::int32_t> colourMap_;
  msgpack::sbuffer call_;

  // Hands the slot's call over with the call last packed.
  void handOver(sdk::CorvelNative& native, std::size_t slot, const std::shared_ptr<BridgeState>* state);
};

}  // namespace halvix::chroma
