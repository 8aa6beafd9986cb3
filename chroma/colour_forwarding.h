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
class WaitingCalls : public std::enable_shared_from_this<WaitingCalls> {
 public:
  static constexpr std::size_t kBroadcastSlot = ChromaRelayState::kSlotCount;

  // One call's mark on its lamp: cleared when the call's completion runs
  // (clear()) or, for a call dropped unrun, when the last copy goes. Only
  // its own mark is cleared: a later call on the slot keeps its own.
  class Ticket {
   public:
    Ticket(std::shared_ptr<WaitingCalls> owner, std::size_t slot, std::uint64_t number)
        : owner_(std::move(owner)), slot_(slot), number_(number) {}
    ~Ticket() { clear(); }
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    void clear() const;

   private:
    std::shared_ptr<WaitingCalls> owner_;
    std::size_t slot_;
    std::uint64_t number_;
  };

  bool waiting(std::size_t slot) const { return marks_[slot].load() != 0; }
  // Marks the slot as waiting for a new call. Platform thread.
  std::shared_ptr<Ticket> enter(std::size_t slot);

 private:
  std::array<std::atomic<std::uint64_t>, ChromaRelayState::kSlotCount + 1> marks_{};
  std::uint64_t nextNumber_ = 1;
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
  void SendPackedColor(sdk::CorvelNative& native, std::weak_ptr<BridgeState> state);

  // The packed call for one lamp with the colour last collected.
  const msgpack::sbuffer& pack(const char* method, const std::string& identifier);

 private:
  std::vector<std::string> targets_;
  // The slot of each target (WaitingCalls' numbering).
  std::vector<std::size_t> targetSlots_;
  std::shared_ptr<WaitingCalls> waiting_;
  // The activation the marks belong to: calls queued into an earlier one
  // never run, and must not hold their lamps back.
  const sdk::CorvelNative* marksNative_ = nullptr;
  std::uint64_t marksActivation_ = 0;
  std::map<std::string, std::int32_t> colourMap_;
  msgpack::sbuffer call_;
};

}  // namespace halvix::chroma
