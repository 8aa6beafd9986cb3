#pragma once
// The simulated lamps together: every datagram that reaches one of their
// sockets is checked, counted against its lamp and timed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lampsim/lamp_config.h"
#include "tools/lampsim/lamp_frame.h"
#include "tools/lampsim/lamp_track.h"
#include "tools/lampsim/stamp_follower.h"

namespace halvix::lampsim {

struct Arrival {
  std::int64_t monotonicNs = 0;  // CLOCK_MONOTONIC, compared with the stamps
  std::int64_t realtimeMicros = 0;  // CLOCK_REALTIME, compared with the frame's send time
  static Arrival now();
};

enum class LatencySource { None, Stamp, Sent };

struct FrameRecord {
  FrameCheck check;  // the frame's fields when it was accepted
  std::string reason;  // why it was refused; empty when accepted
  SeqVerdict verdict = SeqVerdict::First;
  Arrival arrival;
  std::optional<std::int64_t> latencyNs;
  LatencySource latencyFrom = LatencySource::None;
  bool ok() const { return reason.empty(); }
};

class LampBoard {
 public:
  struct Lamp {
    std::string id;
    LampTrack track;
    LatencyStats latency;
  };

  explicit LampBoard(const LampConfig& config);

  // `accepted` names the lamps that listen where the datagram arrived; a
  // frame for any other lamp is refused as "unknown lamp". With `stamps`, the
  // latency runs from the colour's latest stamp, else from the send time.
  FrameRecord receive(std::string_view bytes, const std::vector<std::string>& accepted, Arrival arrival,
                      const StampFollower* stamps);

  const std::vector<Lamp>& lamps() const { return lamps_; }
  std::uint64_t badFrames() const { return badFrames_; }
  const LatencyStats& latency() const { return latency_; }

 private:
  std::vector<Lamp> lamps_;  // the unicast lamps in file order, then the broadcast lamp
  std::uint64_t badFrames_ = 0;
  LatencyStats latency_;
};

}  // namespace halvix::lampsim
