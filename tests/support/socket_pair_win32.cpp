// Socket pairs on Windows, made of loopback sockets: Winsock has no
// socketpair, and AF_UNIX there knows no datagrams.
#include "tests/support/socket_pair.h"

#include "platform/sockets_startup.h"

namespace halvix::test {
namespace {

// Owns one socket until released.
class Socket {
 public:
  explicit Socket(SOCKET socket) : socket_(socket) {}
  ~Socket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  void reset(SOCKET socket) {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    socket_ = socket;
  }
  SOCKET get() const { return socket_; }
  bool ok() const { return socket_ != INVALID_SOCKET; }
  int release() { return static_cast<int>(std::exchange(socket_, INVALID_SOCKET)); }

 private:
  SOCKET socket_;
};

bool bindLoopback(const Socket& s, sockaddr_in& bound) {
  bound = sockaddr_in{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof bound;
  return ::bind(s.get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0 &&
         ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&bound), &length) == 0;
}

bool connectTo(const Socket& s, const sockaddr_in& to) {
  return ::connect(s.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
}

// A connected loopback TCP pair, through a listener that goes once it has
// accepted.
bool streamPair(Socket& a, Socket& b) {
  Socket listener(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  if (!listener.ok() || !a.ok() || !bindLoopback(listener, address) || ::listen(listener.get(), 1) != 0 ||
      !connectTo(a, address))
    return false;
  b.reset(::accept(listener.get(), nullptr, nullptr));
  // Small writes go out at once, as they do on a local socket pair.
  const BOOL on = TRUE;
  return b.ok() && ::setsockopt(a.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0 &&
         ::setsockopt(b.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

// Two UDP sockets on 127.0.0.1, each connected to the other.
bool datagramPair(Socket& a, Socket& b) {
  sockaddr_in addressA{}, addressB{};
  return a.ok() && b.ok() && bindLoopback(a, addressA) && bindLoopback(b, addressB) && connectTo(a, addressB) &&
         connectTo(b, addressA);
}

// Winsock is started once for the whole test process, before any test makes
// a socket, and never cleaned up.
const int kSocketsStarted = platform::socketsStartup();

}  // namespace

void closeSocket(int fd) { ::closesocket(static_cast<SOCKET>(fd)); }

std::string notASocketText() { return platform::systemErrorText(WSAENOTSOCK); }

bool setNonBlocking(int fd) {
  u_long on = 1;
  return ::ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &on) == 0;
}

bool waitReadable(int fd, std::chrono::milliseconds wait) {
  WSAPOLLFD ready{static_cast<SOCKET>(fd), POLLRDNORM, 0};
  return ::WSAPoll(&ready, 1, static_cast<INT>(wait.count())) == 1;
}

SocketPair::SocketPair(int type) {
  if (kSocketsStarted != 0) return;
  Socket a(::socket(AF_INET, type, 0));
  Socket b(type == SOCK_STREAM ? INVALID_SOCKET : ::socket(AF_INET, type, 0));
  const bool made = type == SOCK_STREAM ? streamPair(a, b) : datagramPair(a, b);
  if (!made || !setNonBlocking(static_cast<int>(a.get())) || !setNonBlocking(static_cast<int>(b.get()))) return;
  a_ = a.release();
  b_ = b.release();
}

SocketPair::~SocketPair() {
  closeA();
  closeB();
}

}  // namespace halvix::test
