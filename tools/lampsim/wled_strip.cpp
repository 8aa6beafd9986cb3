#include "tools/lampsim/wled_strip.h"

#include <algorithm>

namespace halvix::lampsim {

void WledStrip::accept(const WledPacket& packet) {
  ++frames_;
  // Only the header: it keeps the device in realtime mode and sets nothing.
  if (packet.leds.empty()) return;
  const unsigned first = packet.leds.front().index;
  if (rounds_ == 0 || first <= lastFirst_) {
    if (rounds_ > 0 && coveredCount_ < covered_.size()) ++closedIncomplete_;
    ++rounds_;
    std::fill(covered_.begin(), covered_.end(), false);
    coveredCount_ = 0;
  }
  lastFirst_ = first;
  for (const WledLed& led : packet.leds) {
    leds_[led.index] = led.colour;
    if (!covered_[led.index]) {
      covered_[led.index] = true;
      ++coveredCount_;
    }
  }
}

std::uint64_t WledStrip::incompleteRounds() const {
  return closedIncomplete_ + (rounds_ > 0 && coveredCount_ < covered_.size() ? 1 : 0);
}

}  // namespace halvix::lampsim
