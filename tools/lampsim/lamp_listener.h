#pragma once
// The sockets of the simulated lamps: one per distinct address and port, so
// lamps that share one are told apart by the identifier in the frame; the
// broadcast lamp listens on INADDR_ANY at its port with SO_BROADCAST.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket_io.h"
#include "tools/lampsim/lamp_config.h"

namespace halvix::lampsim {

struct Endpoint {
  platform::DatagramSocket socket;
  std::uint32_t address = 0;  // network order
  std::uint16_t port = 0;
  std::vector<std::string> lampIds;
};

// Opens every endpoint, non-blocking, with SO_REUSEADDR. Returns the empty
// string, or why an endpoint could not be opened.
std::string openEndpoints(const LampConfig& config, std::vector<Endpoint>& endpoints);

}  // namespace halvix::lampsim
