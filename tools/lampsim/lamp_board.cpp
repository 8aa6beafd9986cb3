#include "tools/lampsim/lamp_board.h"

#include <time.h>

#include <algorithm>

namespace halvix::lampsim {

namespace {

std::int64_t clockNs(clockid_t clock) {
  timespec t{};
  ::clock_gettime(clock, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A send time from any frame, however wrong, must not overflow the sum.
std::optional<std::int64_t> sinceSentNs(std::int64_t nowMicros, std::int64_t sentMicros) {
  std::int64_t micros = 0, ns = 0;
  if (__builtin_sub_overflow(nowMicros, sentMicros, &micros) || __builtin_mul_overflow(micros, 1000, &ns))
    return std::nullopt;
  return ns;
}

}  // namespace

Arrival Arrival::now() { return {clockNs(CLOCK_MONOTONIC), clockNs(CLOCK_REALTIME) / 1000}; }

LampBoard::LampBoard(const LampConfig& config) {
  auto add = [&](const LampAddress& lamp) {
    const unsigned leds = lamp.protocol == LampProtocol::Wled ? lamp.ledCount : 0;
    lamps_.push_back({lamp.id, {}, {}, lamp.protocol, WledStrip(leds)});
  };
  for (const auto& lamp : config.lamps) add(lamp);
  if (config.broadcast) add(*config.broadcast);
}

FrameRecord LampBoard::receive(std::string_view bytes, const std::vector<std::string>& accepted, Arrival arrival,
                               const StampFollower* stamps) {
  auto wled = std::find_if(lamps_.begin(), lamps_.end(), [&](const Lamp& l) {
    return l.protocol == LampProtocol::Wled && std::find(accepted.begin(), accepted.end(), l.id) != accepted.end();
  });
  if (wled != lamps_.end()) return receiveWled(*wled, bytes, arrival, stamps);

  FrameRecord record;
  record.arrival = arrival;
  record.check = parseLampFrame(bytes);
  record.reason = record.check.reason;
  const LampFrame& frame = record.check.frame;
  auto lamp = std::find_if(lamps_.begin(), lamps_.end(), [&](const Lamp& l) { return l.id == frame.lampId; });
  if (record.ok() && (lamp == lamps_.end() || std::find(accepted.begin(), accepted.end(), frame.lampId) == accepted.end()))
    record.reason = "unknown lamp";
  if (!record.ok()) {
    ++badFrames_;
    return record;
  }

  const Rgb colour{frame.red, frame.green, frame.blue};
  record.verdict = lamp->track.accept(frame.seq, frame.sentMicros, colour);
  if (stamps) {
    if (auto event = stamps->eventTime(colour, arrival.monotonicNs)) {
      record.latencyNs = arrival.monotonicNs - *event;
      record.latencyFrom = LatencySource::Stamp;
    }
  } else {
    if ((record.latencyNs = sinceSentNs(arrival.realtimeMicros, frame.sentMicros))) record.latencyFrom = LatencySource::Sent;
  }
  if (record.latencyNs) addLatency(*lamp, *record.latencyNs);
  return record;
}

FrameRecord LampBoard::receiveWled(Lamp& lamp, std::string_view bytes, Arrival arrival, const StampFollower* stamps) {
  FrameRecord record;
  record.arrival = arrival;
  record.protocol = LampProtocol::Wled;
  record.wledLampId = lamp.id;
  record.wled = parseWledPacket(bytes, lamp.strip.ledCount());
  record.reason = record.wled.reason;
  if (!record.ok()) {
    ++badFrames_;
    return record;
  }
  const WledPacket& packet = record.wled.packet;
  lamp.strip.accept(packet);
  record.round = lamp.strip.rounds();
  // With no send time in the packet, only a stamp can time it.
  if (stamps && !packet.leds.empty()) {
    if (auto event = stamps->eventTime(packet.leds.front().colour, arrival.monotonicNs)) {
      record.latencyNs = arrival.monotonicNs - *event;
      record.latencyFrom = LatencySource::Stamp;
      addLatency(lamp, *record.latencyNs);
    }
  }
  return record;
}

void LampBoard::addLatency(Lamp& lamp, std::int64_t ns) {
  lamp.latency.add(ns);
  latency_.add(ns);
}

}  // namespace halvix::lampsim
