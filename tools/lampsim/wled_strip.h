#pragma once
// What a simulated WLED lamp knows of its packets: the colour of every LED,
// and whether each tick of the application covered the whole strip. WLED
// packets carry no sequence number, so a tick is told by where its packets
// start: a packet whose first LED is at or before the previous packet's
// first LED begins a new round (a DRGB packet always does; so does a DNRGB
// packet from 0).
#include <cstdint>
#include <vector>

#include "tools/lampsim/lamp_track.h"
#include "tools/lampsim/wled_packet.h"

namespace halvix::lampsim {

class WledStrip {
 public:
  explicit WledStrip(unsigned ledCount = 0) : leds_(ledCount), covered_(ledCount, false) {}

  // The packet must be one parsed for this strip's LED count.
  void accept(const WledPacket& packet);

  unsigned ledCount() const { return static_cast<unsigned>(leds_.size()); }
  const std::vector<Rgb>& leds() const { return leds_; }
  bool seen() const { return frames_ > 0; }
  std::uint64_t frames() const { return frames_; }
  std::uint64_t rounds() const { return rounds_; }
  // Rounds that left an LED unset, the round still open included: it is
  // judged as it stands when asked.
  std::uint64_t incompleteRounds() const;

 private:
  std::vector<Rgb> leds_;
  std::vector<bool> covered_;  // in the open round
  std::size_t coveredCount_ = 0;
  unsigned lastFirst_ = 0;
  std::uint64_t frames_ = 0, rounds_ = 0, closedIncomplete_ = 0;
};

}  // namespace halvix::lampsim
