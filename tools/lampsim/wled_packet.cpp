#include "tools/lampsim/wled_packet.h"

namespace halvix::lampsim {

namespace {

struct Layout {
  std::size_t header;  // bytes before the first LED record
  std::size_t record;  // bytes a LED
  std::size_t maxLeds;  // a packet's most: what a device reads of one datagram
};

Layout layoutOf(WledProtocol protocol) {
  switch (protocol) {
    case WledProtocol::Warls: return {2, 4, 255};
    case WledProtocol::Drgb: return {2, 3, 490};
    case WledProtocol::Drgbw: return {2, 4, 367};
    case WledProtocol::Dnrgb: return {4, 3, 489};
  }
  return {};
}

}  // namespace

const char* wledProtocolName(WledProtocol protocol) {
  switch (protocol) {
    case WledProtocol::Warls: return "WARLS";
    case WledProtocol::Drgb: return "DRGB";
    case WledProtocol::Drgbw: return "DRGBW";
    case WledProtocol::Dnrgb: return "DNRGB";
  }
  return "?";
}

WledCheck parseWledPacket(std::string_view bytes, unsigned ledCount) {
  WledCheck check;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 2) {
    check.reason = "short packet";
    return check;
  }
  if (p[0] < 1 || p[0] > 4) {
    check.reason = "unknown protocol " + std::to_string(p[0]);
    return check;
  }
  WledPacket& packet = check.packet;
  packet.protocol = static_cast<WledProtocol>(p[0]);
  packet.timeoutSeconds = p[1];
  const Layout layout = layoutOf(packet.protocol);
  if (bytes.size() < layout.header) {
    check.reason = "short DNRGB packet";
    return check;
  }
  const std::size_t body = bytes.size() - layout.header;
  if (body % layout.record != 0) {
    check.reason = "partial LED record";
    return check;
  }
  if (body / layout.record > layout.maxLeds) {
    check.reason = "more than " + std::to_string(layout.maxLeds) + " LEDs in a " +
                   wledProtocolName(packet.protocol) + " packet";
    return check;
  }

  unsigned next = packet.protocol == WledProtocol::Dnrgb ? (p[2] << 8) | p[3] : 0;
  for (const unsigned char* q = p + layout.header; q < p + bytes.size(); q += layout.record) {
    WledLed led;
    if (packet.protocol == WledProtocol::Warls) {
      led = {q[0], {q[1], q[2], q[3]}};
    } else {
      led = {next++, {q[0], q[1], q[2]}, packet.protocol == WledProtocol::Drgbw ? q[3] : std::uint8_t{0}};
    }
    // A real device drops such LEDs silently; the sender is the one to fix.
    if (led.index >= ledCount) {
      check.reason = "LED beyond the lamp's " + std::to_string(ledCount);
      packet.leds.clear();
      return check;
    }
    packet.leds.push_back(led);
  }
  return check;
}

}  // namespace halvix::lampsim
