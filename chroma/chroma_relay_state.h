#pragma once
// What the Chroma bridge relays: the current colour, written by the Chroma
// Connect notification thread and read by the colour tick, and which lamps
// receive it. The device table and the broadcast selection belong to the
// platform thread alone.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace halvix::chroma {

struct ChromaColour {
  std::int32_t red = 0;
  std::int32_t green = 0;
  std::int32_t blue = 0;
  bool operator==(const ChromaColour&) const = default;
};

enum class DeviceChange {
  Done,      // applied, or nothing to do (already on, already off, table full, empty identifier)
  TooLong,   // the identifier does not fit a slot; nothing changed
  HasNul,    // the identifier holds a NUL byte, which a slot would cut it at; nothing changed
};

class ChromaRelayState {
 public:
  static constexpr std::size_t kSlotCount = 128;
  static constexpr std::size_t kSlotSize = 32;
  // The longest identifier a slot holds whole, leaving room for the terminator.
  static constexpr std::size_t kMaxIdentifierLength = 30;
  // The broadcast lamp's identifier is kept as a string and packed again
  // every tick; no lamp's identifier comes near this.
  static constexpr std::size_t kMaxBroadcastIdentifierLength = 4096;

  ChromaRelayState();
  ChromaRelayState(const ChromaRelayState&) = delete;
  ChromaRelayState& operator=(const ChromaRelayState&) = delete;

  // Each component is written and read whole, without ordering between
  // them: the tick may see a colour half-way through an update, and the
  // next tick sees the rest.
  void setColour(ChromaColour colour);
  ChromaColour colour() const;

  // Switches a lamp on or off for the colour. On: stored in the first free
  // slot unless already present. An identifier longer than a slot holds, or
  // one with a NUL byte, is refused whole, never cut: two lamps must never
  // share one stored identifier.
  DeviceChange SetDeviceEnabled(std::string_view uuid, bool enable);
  // Selects the one lamp that receives the colour through the broadcast
  // path; off forgets the identifier and frees what it held. An identifier
  // longer than kMaxBroadcastIdentifierLength is refused (TooLong) and
  // nothing changes.
  DeviceChange SetBroadcastDevice(bool enable, std::string uuid);

  bool broadcastEnabled() const { return broadcastEnabled_; }
  const std::string& broadcastDeviceId() const { return broadcastDeviceId_; }

  // The text in slot i (0 to 127); empty when the slot is free.
  std::string_view deviceSlot(std::size_t i) const;
  // The stored identifiers in slot order: the order the tick addresses them.
  std::vector<std::string> enabledDevices() const;

 private:
  char* slotAt(std::size_t i) const { return slotStorage_.get() + kSlotSize * i; }

  std::atomic<std::int32_t> red_{0};
  std::atomic<std::int32_t> green_{0};
  std::atomic<std::int32_t> blue_{0};
  // deviceSlots: slot i is the 32 bytes at kSlotSize * i, a NUL-terminated
  // identifier, free when its first byte is 0.
  std::unique_ptr<char[]> slotStorage_;
  bool broadcastEnabled_ = false;
  std::string broadcastDeviceId_;
};

}  // namespace halvix::chroma
