#pragma once
// The simulated lamps together: every datagram that reaches one of their
// sockets is checked, counted against its lamp and timed. A datagram where a
// WLED lamp listens is that lamp's WLED packet (it listens there alone);
// anywhere else it is a lamp frame naming its lamp.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lampsim/lamp_config.h"
#include "tools/lampsim/lamp_frame.h"
#include "tools/lampsim/lamp_track.h"
#include "tools/lampsim/stamp_follower.h"
#include "tools/lampsim/wled_packet.h"
#include "tools/lampsim/wled_strip.h"

namespace halvix::lampsim {

struct Arrival {
  std::int64_t monotonicNs = 0;  // CLOCK_MONOTONIC, compared with the stamps
  std::int64_t realtimeMicros = 0;  // CLOCK_REALTIME, compared with the frame's send time
  static Arrival now();
};

enum class LatencySource { None, Stamp, Sent };

struct FrameRecord {
  LampProtocol protocol = LampProtocol::Lf;
  FrameCheck check;  // lf: the frame's fields when it was accepted
  WledCheck wled;    // wled: the packet's fields when it was accepted
  std::string wledLampId;  // wled: the lamp listening where it arrived
  std::uint64_t round = 0;  // wled: the lamp's round the packet counted in
  std::string reason;  // why it was refused; empty when accepted
  SeqVerdict verdict = SeqVerdict::First;  // lf
  Arrival arrival;
  std::optional<std::int64_t> latencyNs;
  LatencySource latencyFrom = LatencySource::None;
  bool ok() const { return reason.empty(); }
};

class LampBoard {
 public:
  struct Lamp {
    std::string id;
    LampTrack track;  // lf frames
    LatencyStats latency;
    LampProtocol protocol = LampProtocol::Lf;
    WledStrip strip;  // wled packets

    bool seen() const { return protocol == LampProtocol::Wled ? strip.seen() : track.seen(); }
    // A WLED lamp shows as its first LED.
    Rgb colour() const { return protocol == LampProtocol::Wled ? strip.leds().front() : track.colour(); }
    std::uint64_t frames() const { return protocol == LampProtocol::Wled ? strip.frames() : track.frames(); }
  };

  explicit LampBoard(const LampConfig& config);

  // `accepted` names the lamps that listen where the datagram arrived; a
  // frame for any other lamp is refused as "unknown lamp". With `stamps`, the
  // latency runs from the colour's latest stamp (for a WLED packet, its first
  // LED's colour), else from the send time, which WLED packets lack.
  FrameRecord receive(std::string_view bytes, const std::vector<std::string>& accepted, Arrival arrival,
                      const StampFollower* stamps);

  const std::vector<Lamp>& lamps() const { return lamps_; }
  std::uint64_t badFrames() const { return badFrames_; }
  const LatencyStats& latency() const { return latency_; }

 private:
  FrameRecord receiveWled(Lamp& lamp, std::string_view bytes, Arrival arrival, const StampFollower* stamps);
  void addLatency(Lamp& lamp, std::int64_t ns);

  std::vector<Lamp> lamps_;  // the unicast lamps in file order, then the broadcast lamp
  std::uint64_t badFrames_ = 0;
  LatencyStats latency_;
};

}  // namespace halvix::lampsim
