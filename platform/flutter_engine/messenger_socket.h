#pragma once
// Where the messenger socket lives and whom its two ends trust, one
// implementation per target: a Unix-domain socket on POSIX systems
// (messenger_socket.cpp, whose own rules are in messenger_unix_socket.h),
// loopback TCP on Windows (messenger_socket_win32.cpp), where the path names
// a file that holds the port the host listens on. Both ends accept only the
// user they run as.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <boost/asio/basic_socket_acceptor.hpp>
#include <boost/asio/generic/stream_protocol.hpp>

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

// The server's end at a path: binds and listens, tells whether an accepted
// client may be served, and removes what it left at the path when it goes,
// unless another host has taken the path over since.
class MessengerEndpoint {
 public:
  using Protocol = boost::asio::generic::stream_protocol;
  using Acceptor = boost::asio::basic_socket_acceptor<Protocol>;
  using Socket = Protocol::socket;

  explicit MessengerEndpoint(std::string path) : path_(std::move(path)) {}
  ~MessengerEndpoint();
  MessengerEndpoint(const MessengerEndpoint&) = delete;
  MessengerEndpoint& operator=(const MessengerEndpoint&) = delete;

  // Clears a stale endpoint left at the path, then binds `acceptor` and
  // listens. 0, or an errno value: EADDRINUSE when a live server of this
  // user answers there, EEXIST for any other file, ENAMETOOLONG for a path
  // that does not fit.
  int open(Acceptor& acceptor);
  // False for a client that runs as another user.
  bool admits(Socket& client) const;

 private:
  std::string path_;
  bool bound_ = false;
  // What tells that the file at the path is still the one made here: its
  // device and inode number on POSIX systems, the port it names on Windows.
  std::uint64_t mark_[2] = {0, 0};
};

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
