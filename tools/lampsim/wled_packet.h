#pragma once
// WLED's realtime UDP packet, what a lamp listed as "wled" understands (the
// application sends it to port 21324 of a real WLED device):
//
//   packet  = protocol timeout body
//   protocol = 1 byte: 1 WARLS, 2 DRGB, 3 DRGBW, 4 DNRGB
//   timeout  = 1 byte: seconds without packets before the device leaves
//              realtime mode; 255 stays in realtime mode
//   WARLS body = [index red green blue]...        at most 255 LEDs
//   DRGB  body = [red green blue]...  from LED 0   at most 490 LEDs
//   DRGBW body = [red green blue white]... from 0  at most 367 LEDs
//   DNRGB body = start (2 bytes, big-endian) [red green blue]... from start,
//                at most 489 LEDs a packet
//
// A packet carries neither identifier nor send time: the lamp is the one
// listening where it arrived, and its LEDs start black.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lampsim/lamp_track.h"

namespace halvix::lampsim {

enum class WledProtocol : std::uint8_t { Warls = 1, Drgb = 2, Drgbw = 3, Dnrgb = 4 };

// "WARLS", "DRGB", "DRGBW", "DNRGB".
const char* wledProtocolName(WledProtocol protocol);

struct WledLed {
  unsigned index = 0;
  Rgb colour;
  std::uint8_t white = 0;  // DRGBW only
  bool operator==(const WledLed&) const = default;
};

struct WledPacket {
  WledProtocol protocol = WledProtocol::Drgb;
  std::uint8_t timeoutSeconds = 0;
  std::vector<WledLed> leds;  // in packet order; empty for a packet of only the header
};

// A packet, or the reason it was refused: "short packet", "unknown protocol N",
// "short DNRGB packet", "partial LED record", "more than M LEDs in a P packet",
// "LED beyond the lamp's N" (checked in that order).
struct WledCheck {
  WledPacket packet;
  std::string reason;
  bool ok() const { return reason.empty(); }
};

// For a lamp of `ledCount` LEDs.
WledCheck parseWledPacket(std::string_view bytes, unsigned ledCount);

}  // namespace halvix::lampsim
