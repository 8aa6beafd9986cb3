#include "chroma/chroma_relay_state.h"

#include <cstring>
#include <optional>
#include <utility>

namespace halvix::chroma {

ChromaRelayState::ChromaRelayState() : slotStorage_(new char[kSlotCount * kSlotSize]()) {}

void ChromaRelayState::setColour(ChromaColour colour) {
  red_.store(colour.red, std::memory_order_relaxed);
  green_.store(colour.green, std::memory_order_relaxed);
  blue_.store(colour.blue, std::memory_order_relaxed);
}

ChromaColour ChromaRelayState::colour() const {
  return {red_.load(std::memory_order_relaxed), green_.load(std::memory_order_relaxed),
          blue_.load(std::memory_order_relaxed)};
}

std::string_view ChromaRelayState::deviceSlot(std::size_t i) const {
  const char* slot = slotAt(i);
  return {slot, ::strnlen(slot, kSlotSize)};
}

DeviceChange ChromaRelayState::SetDeviceEnabled(std::string_view uuid, bool enable) {
  if (uuid.size() > kMaxIdentifierLength) return DeviceChange::TooLong;
  if (uuid.find('\0') != std::string_view::npos) return DeviceChange::HasNul;
  if (uuid.empty()) return DeviceChange::Done;

  std::optional<std::size_t> match;
  std::optional<std::size_t> firstFree;
  for (std::size_t i = 0; i < kSlotCount; ++i) {
    const std::string_view text = deviceSlot(i);
    if (text.empty()) {
      if (!firstFree) firstFree = i;
    } else if (text == uuid) {
      match = i;
      break;
    }
  }
  if (enable && !match && firstFree) {
    std::memcpy(slotAt(*firstFree), uuid.data(), uuid.size());
    slotAt(*firstFree)[uuid.size()] = '\0';
  } else if (!enable && match) {
    std::memset(slotAt(*match), 0, kSlotSize);
  }
  return DeviceChange::Done;
}

DeviceChange ChromaRelayState::SetBroadcastDevice(bool enable, std::string uuid) {
  if (enable && uuid.size() > kMaxBroadcastIdentifierLength) return DeviceChange::TooLong;
  broadcastEnabled_ = enable;
  if (!enable) uuid = std::string();
  // Swapped, not assigned: assignment may keep the old identifier's storage.
  broadcastDeviceId_.swap(uuid);
  return DeviceChange::Done;
}

std::vector<std::string> ChromaRelayState::enabledDevices() const {
  std::vector<std::string> devices;
  for (std::size_t i = 0; i < kSlotCount; ++i) {
    const std::string_view text = deviceSlot(i);
    if (!text.empty()) devices.emplace_back(text);
  }
  return devices;
}

}  // namespace halvix::chroma
