#pragma once
// Where the messenger socket lives and whom its two ends trust, one
// implementation per target: a Unix-domain socket on POSIX systems
// (messenger_socket_posix.cpp, whose own rules are in messenger_unix_socket.h),
// loopback TCP on Windows (messenger_socket_win32.cpp), where the path names
// a file that holds the port the host listens on. Both ends accept only the
// user they run as. The server's end is in messenger_endpoint.h.
#include <chrono>
#include <cstdint>
#include <optional>
#include <cstddef>
#include <string>

namespace halvix::flutter_engine {

// Where a host listens and halvixctl connects when no socket path is given.
struct MessengerSocketLocation {
  std::string path;
  // The folder holding the socket; it must belong to the user.
  std::string folder;
  // True for a folder the host creates for itself, which must stay private:
  // another user could have made it first.
  bool privateFolder = false;
};

// POSIX: $XDG_RUNTIME_DIR/halvix-messenger.sock (that folder is the user's
// own and private already), else /tmp/halvix-<uid>/messenger.sock.
// Windows: %LOCALAPPDATA%\Halvix\messenger.port.
MessengerSocketLocation defaultMessengerSocketLocation();
std::string defaultMessengerSocketPath();

// Host side, before listening at a default location: creates the private
// folder when it is missing, then checks that it is fit. Empty when it is,
// else a message that names the folder and says what is wrong.
std::string prepareMessengerSocketFolder(const MessengerSocketLocation& location);

// The Dart side's end: a blocking stream socket connected to the messenger
// at `path`, as a descriptor (on Windows a Winsock SOCKET held in an int, as
// in platform/socket_io.h). Throws std::system_error when the messenger
// cannot be reached, and std::runtime_error when another user serves it.
int connectMessenger(const std::string& path);
void closeMessengerSocket(int fd);
// True once `fd` has input or its peer closed; false on timeout.
bool waitMessengerReadable(int fd, std::chrono::milliseconds timeout);
// Bytes written to `fd` that the other end has not read yet; nullopt when
// the system cannot tell.
std::optional<std::size_t> messengerUnreadBytes(int fd);

}  // namespace halvix::flutter_engine
