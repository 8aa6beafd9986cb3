// chroma_broadcast_probe ADDRESS PORT [PAYLOAD]...
// Configures a broadcast sender with the system's adapters for ADDRESS and
// PORT, prints the destination, and sends each payload; sender failures go
// to the console, which is standard error here.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>

#include "chroma/broadcast_sender.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: chroma_broadcast_probe ADDRESS PORT [PAYLOAD]...\n", stderr);
    return 2;
  }
  halvix::platform::setConsolePresent(true);
  halvix::chroma::BroadcastSender sender;
  sender.Configure(argv[1], static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 10)));
  const sockaddr_in destination = sender.destination();
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &destination.sin_addr, text, sizeof text);
  std::printf("%s:%u\n", text, static_cast<unsigned>(ntohs(destination.sin_port)));
  for (int i = 3; i < argc; ++i) sender.Send(argv[i]);
  return 0;
}
