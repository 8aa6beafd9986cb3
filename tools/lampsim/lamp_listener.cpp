#include "tools/lampsim/lamp_listener.h"

#include <algorithm>

namespace halvix::lampsim {

namespace {

Endpoint& endpointFor(std::vector<Endpoint>& endpoints, std::uint32_t address, std::uint16_t port) {
  auto it = std::find_if(endpoints.begin(), endpoints.end(),
                         [&](const Endpoint& e) { return e.address == address && e.port == port; });
  if (it != endpoints.end()) return *it;
  Endpoint& e = endpoints.emplace_back();
  e.address = address;
  e.port = port;
  return e;
}

std::string bindEndpoint(Endpoint& e, bool broadcast) {
  const std::string where = addressText(e.address) + ":" + std::to_string(e.port);
  if (!e.socket.isOpen()) return "cannot open a socket for " + where + ": " + platform::systemErrorText(e.socket.creationError());
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = e.address;
  bound.sin_port = htons(e.port);
  if (const int error = platform::socketListenDatagrams(e.socket.fd(), bound, broadcast); error != 0)
    return "cannot listen on " + where + ": " + platform::systemErrorText(error);
  return {};
}

}  // namespace

std::string openEndpoints(const LampConfig& config, std::vector<Endpoint>& endpoints) {
  endpoints.clear();
  for (const auto& lamp : config.lamps) endpointFor(endpoints, lamp.address, lamp.port).lampIds.push_back(lamp.id);
  std::size_t unicast = endpoints.size();
  if (config.broadcast)
    endpointFor(endpoints, htonl(INADDR_ANY), config.broadcast->port).lampIds.push_back(config.broadcast->id);
  for (std::size_t i = 0; i < endpoints.size(); ++i)
    if (std::string why = bindEndpoint(endpoints[i], i >= unicast || endpoints[i].address == htonl(INADDR_ANY)); !why.empty())
      return why;
  return {};
}

}  // namespace halvix::lampsim
