#pragma once
// The lamp list shared with the demo application (demo/lampdemo/config.lua
// reads the same text): one lamp a line,
//   identifier address port [lf | wled LEDS [TIMEOUT]]
// and the lamp reached by LAN broadcast as the same line after "broadcast";
// "#" starts a comment. The protocol is our own frame ("lf", the default:
// it carries its send time) or WLED's realtime UDP ("wled") with the lamp's
// LED count (1 to 1500) and the realtime timeout in seconds that the
// application sends (1 to 255, default 2; 255 keeps the lamp in realtime
// mode). Identifiers are at most 255 bytes and unique, addresses dotted
// IPv4, ports 1 to 65535; at most one broadcast lamp; a WLED lamp shares its
// address and port with no other lamp, as its datagrams carry no
// identifier; no word holds a control character. Here one bad line refuses
// the whole file (the application skips it instead), and so does a file
// longer than 1 MiB.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvix::lampsim {

enum class LampProtocol { Lf, Wled };

inline constexpr unsigned kMaxWledLeds = 1500;

struct LampAddress {
  std::string id;
  std::uint32_t address = 0;  // network order
  std::uint16_t port = 0;
  LampProtocol protocol = LampProtocol::Lf;
  unsigned ledCount = 0;            // WLED: 1 to kMaxWledLeds
  unsigned timeoutSeconds = 2;      // WLED: what the application sends
};

struct LampConfig {
  std::vector<LampAddress> lamps;  // in file order
  std::optional<LampAddress> broadcast;
};

// The list, or the reason as "<where>:<line>: <why>".
struct ConfigLoad {
  std::optional<LampConfig> config;
  std::string error;
};

ConfigLoad parseLampConfig(std::string_view text, const std::string& where);
ConfigLoad loadLampConfig(const std::string& path);

// Dotted text of an address in network order.
std::string addressText(std::uint32_t address);

}  // namespace halvix::lampsim
