#pragma once
// The lamp list shared with the demo application (demo/lampdemo/config.lua
// reads the same text): one lamp a line, "identifier address port"; the lamp
// reached by LAN broadcast as "broadcast identifier address port"; "#" starts
// a comment. Identifiers are at most 255 bytes and unique, addresses dotted
// IPv4, ports 1 to 65535; at most one broadcast lamp; no word holds a control
// character. One bad line refuses the whole file, and so does a file longer
// than 1 MiB.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvix::lampsim {

struct LampAddress {
  std::string id;
  std::uint32_t address = 0;  // network order
  std::uint16_t port = 0;
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
