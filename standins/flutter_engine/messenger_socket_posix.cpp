// The messenger socket on POSIX systems: a Unix-domain stream socket, mode
// 0600, in a folder of the user's own.
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <boost/asio/local/stream_protocol.hpp>

#include "standins/flutter_engine/messenger_endpoint.h"
#include "standins/flutter_engine/messenger_unix_socket.h"

namespace halvix::flutter_engine {

namespace {

std::string octalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Clears the way for binding at `path`: nothing there, or a socket file that
// nobody listens on any more (a connect is refused), which is removed. A
// socket that a server answers on is another host's and is left alone.
int clearStaleSocket(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISSOCK(st.st_mode)) return EEXIST;
  auto address = messengerSocketAddress(path);
  if (!address) return ENAMETOOLONG;
  // Non-blocking: a live server whose backlog is full must not hold us up.
  int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (probe < 0) return errno;
  int outcome = ::connect(probe, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 ? 0 : errno;
  ::close(probe);
  switch (outcome) {
    case ECONNREFUSED:
      return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
    case ENOENT:
      return 0;
    case 0:
    case EAGAIN:
    case EINPROGRESS:
      return EADDRINUSE;
    default:
      return outcome;
  }
}

}  // namespace

MessengerSocketLocation messengerSocketLocation(const char* runtimeDir, const std::string& tempDir) {
  if (runtimeDir && *runtimeDir) {
    std::string folder = runtimeDir;
    return {folder + "/halvix-messenger.sock", folder, false};
  }
  std::string folder = tempDir + "/halvix-" + std::to_string(::geteuid());
  return {folder + "/messenger.sock", folder, true};
}

MessengerSocketLocation defaultMessengerSocketLocation() {
  return messengerSocketLocation(std::getenv("XDG_RUNTIME_DIR"), "/tmp");
}

std::string defaultMessengerSocketPath() { return defaultMessengerSocketLocation().path; }

std::string prepareMessengerSocketFolder(const MessengerSocketLocation& location) {
  const std::string& folder = location.folder;
  if (location.privateFolder && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot create the socket folder " + folder + ": " + std::strerror(errno);
  // lstat for the private folder: a link planted there by someone else is
  // refused rather than followed.
  struct stat st {};
  int found = location.privateFolder ? ::lstat(folder.c_str(), &st) : ::stat(folder.c_str(), &st);
  if (found != 0) return "cannot use the socket folder " + folder + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "the socket folder " + folder + " is not a directory; remove it or give --socket PATH";
  uid_t self = ::geteuid();
  if (st.st_uid != self)
    return "the socket folder " + folder + " belongs to uid " + std::to_string(st.st_uid) + ", not to you (uid " +
           std::to_string(self) + "); remove it or give --socket PATH";
  if (location.privateFolder && (st.st_mode & 077) != 0)
    return "the socket folder " + folder + " is open to other users (mode " + octalMode(st.st_mode) +
           "); make it private (chmod 700 " + folder + ") or give --socket PATH";
  return {};
}

std::optional<sockaddr_un> messengerSocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

std::optional<uid_t> messengerPeerUid(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) return std::nullopt;
  return peer.uid;
}

int MessengerEndpoint::open(Acceptor& acceptor) {
  if (!messengerSocketAddress(path_)) return ENAMETOOLONG;
  if (int error = clearStaleSocket(path_)) return error;
  boost::system::error_code error;
  acceptor.open(Protocol(AF_UNIX, 0), error);
  if (error) return error.value();
  // Linux gives the socket file the mode of the socket itself (less the
  // umask), so the file is 0600 from the moment it exists. Setting it by
  // path after bind would follow whatever another user had renamed into
  // place meanwhile in a folder open to others.
  if (::fchmod(acceptor.native_handle(), 0600) != 0) return errno;
  acceptor.bind(Protocol::endpoint(boost::asio::local::stream_protocol::endpoint(path_)), error);
  if (error) return error.value();
  struct stat st {};
  if (::lstat(path_.c_str(), &st) != 0) return errno;
  // What is at the path must be the socket just made, private to its user;
  // anything else (a link renamed into place) is refused, never touched.
  if (!S_ISSOCK(st.st_mode) || (st.st_mode & 077) != 0) return EPERM;
  bound_ = true;
  mark_[0] = st.st_dev;
  mark_[1] = st.st_ino;
  acceptor.listen(boost::asio::socket_base::max_listen_connections, error);
  return error.value();
}

// The socket's mode already keeps other users out.
MessengerEndpoint::Admission MessengerEndpoint::admit(Socket&) const { return Admission::kServed; }

std::ptrdiff_t MessengerEndpoint::writeWithoutWaiting(Socket::native_handle_type socket, const std::uint8_t* data,
                                                      std::size_t size) {
  for (;;) {
    ssize_t written = ::send(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (written >= 0) return written;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

MessengerEndpoint::~MessengerEndpoint() {
  struct stat st {};
  if (bound_ && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == mark_[0] && st.st_ino == mark_[1])
    ::unlink(path_.c_str());
}

int connectMessenger(const std::string& path) {
  auto address = messengerSocketAddress(path);
  if (!address) throw std::system_error(ENAMETOOLONG, std::generic_category(), "socket path");
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    int code = errno;
    ::close(fd);
    throw std::system_error(code, std::generic_category(), "connect " + path);
  }
  auto peer = messengerPeerUid(fd);
  uid_t self = ::geteuid();
  if (!peer || *peer != self) {
    ::close(fd);
    throw std::runtime_error("refusing the messenger at " + path + ": it is served by " +
                             (peer ? "uid " + std::to_string(*peer) : std::string("an unknown user")) +
                             ", not by you (uid " + std::to_string(self) + ")");
  }
  return fd;
}

void closeMessengerSocket(int fd) { ::close(fd); }

bool waitMessengerReadable(int fd, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30)));
    if (ready < 0 && errno == EINTR) continue;
    return ready != 0;
  }
}

std::optional<std::size_t> messengerUnreadBytes(int fd) {
  int unread = 0;
  if (::ioctl(fd, SIOCOUTQ, &unread) != 0 || unread < 0) return std::nullopt;
  return static_cast<std::size_t>(unread);
}

}  // namespace halvix::flutter_engine
