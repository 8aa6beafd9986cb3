#pragma once
// The Unix-domain messenger socket's own rules (POSIX systems only): the
// default location for a given runtime folder, the address of a path and the
// user at the other end of a connection.
#include <sys/types.h>
#include <sys/un.h>

#include <optional>
#include <string>

#include "standins/flutter_engine/messenger_socket.h"

namespace halvix::flutter_engine {

// The default location's rule for a given runtime folder (null or empty when
// there is none) and shared temporary folder.
MessengerSocketLocation messengerSocketLocation(const char* runtimeDir, const std::string& tempDir);

// The address of the socket at `path`; nullopt when the path is empty or
// does not fit.
std::optional<sockaddr_un> messengerSocketAddress(const std::string& path);

// The user id of the process at the other end of the connected socket `fd`;
// nullopt when the system cannot tell.
std::optional<uid_t> messengerPeerUid(int fd);

}  // namespace halvix::flutter_engine
