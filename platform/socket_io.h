#pragma once
// The socket calls of the native modules and of the broadcast sender, one
// system call each, never blocking and never raising SIGPIPE. EINTR is
// retried here, so it never comes back. Every transfer is classified once, in
// socket_io_posix.cpp (socket_io_win32.cpp on Windows); callers only map the
// classification to their own results.
// A test seam can force short transfers and would-block.
//
// On Windows a descriptor is the Winsock SOCKET held in an int (socket
// handles keep to 32 bits), -1 standing for INVALID_SOCKET, and error numbers
// are Winsock's (WSAGetLastError): WSAEWOULDBLOCK is would-block, and a reset
// or aborted connection is an Error, as ECONNRESET and EPIPE are here.
#include <cstddef>
#include <cstdint>
#include <functional>

// sockaddr_in and the socket options.
#ifdef _WIN32
#include "platform/win32/socket_types.h"
#else
#include "platform/posix/socket_types.h"
#endif

namespace halvix::platform {

// One send or receive moves at most this many bytes, so that every count fits
// the 32-bit results the callers hand on; a longer request is cut to it and
// the caller sees a partial transfer.
inline constexpr std::size_t kMaxTransfer = INT32_MAX;

enum class SocketStatus {
  Done,        // bytes moved: `count`
  WouldBlock,  // the descriptor is non-blocking and nothing could move now;
               // `error` holds the system's would-block number
  Closed,      // the call moved 0 bytes: the peer closed (or 0 bytes were asked of a stream)
  Error,       // any other failure: `error` holds the system error number
};

struct SocketOutcome {
  SocketStatus status = SocketStatus::Done;
  std::size_t count = 0;
  int error = 0;

  bool done() const { return status == SocketStatus::Done; }
  // The system's text for `error`; "Unknown error" when there is none.
  const char* errorText() const;
};

// The system's text for an error number; "Unknown error" for 0.
const char* systemErrorText(int error);

SocketOutcome socketSend(int fd, const void* data, std::size_t size);
// Sends the slices in order with one system call (a gathered write); Done
// carries the bytes moved, which may end inside any slice. At most
// kMaxSendSlices slices are taken.
struct SendSlice {
  const void* data;
  std::size_t size;
};
inline constexpr std::size_t kMaxSendSlices = 64;
SocketOutcome socketSendGather(int fd, const SendSlice* slices, std::size_t count);
SocketOutcome socketRecv(int fd, void* data, std::size_t size);
// Receives into the slices in order with one system call (a scattered
// read); Done carries the bytes moved. At most kMaxSendSlices slices.
struct RecvSlice {
  void* data;
  std::size_t size;
};
SocketOutcome socketRecvScatter(int fd, const RecvSlice* slices, std::size_t count);
// `from` receives the sender's IPv4 address; zeroed when the sender is not IPv4.
SocketOutcome socketRecvFrom(int fd, void* data, std::size_t size, sockaddr_in& from);
// Sends one IPv4 datagram. A datagram is never cut: Done carries its whole
// size, 0 for an empty one (which is sent, not "closed").
SocketOutcome socketSendTo(int fd, const void* data, std::size_t size, const sockaddr_in& to);

// Bytes waiting to be read (FIONREAD), or -1.
long socketPending(int fd);
int socketSetBufferSize(int fd, int option, int size);  // SO_SNDBUF / SO_RCVBUF; 0 or -1

// SO_BROADCAST from a one-byte flag, as Winsock takes it (a BOOL read from a
// single byte). Linux reads the option as an int and refuses a shorter one,
// so the byte is widened: 0 turns broadcasting off, any other value turns it
// on (Windows is handed the same widened value). Returns 0, or -1 with the
// system error set (errno; WSAGetLastError on Windows).
int socketSetBroadcast(int fd, std::uint8_t enable);

// Makes a datagram socket receive at `address`: non-blocking, with
// SO_REUSEADDR so that other sockets may take the same address and port (and
// SO_BROADCAST when `broadcast`), then bound. Returns 0, or the system error
// number.
int socketListenDatagrams(int fd, const sockaddr_in& address, bool broadcast);

// An IPv4 datagram socket (AF_INET, SOCK_DGRAM, protocol 0) owned by this
// object and closed when it goes. A failed creation leaves fd() at -1 and
// shows only when the socket is used: every call then fails with EBADF
// (WSAENOTSOCK on Windows).
class DatagramSocket {
 public:
  DatagramSocket();
  ~DatagramSocket() { close(); }
  DatagramSocket(DatagramSocket&& other) noexcept;
  DatagramSocket& operator=(DatagramSocket&& other) noexcept;
  DatagramSocket(const DatagramSocket&) = delete;
  DatagramSocket& operator=(const DatagramSocket&) = delete;

  int fd() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  // The error number of a failed creation, else 0.
  int creationError() const { return creationError_; }
  void close() noexcept;

  int setBroadcast(std::uint8_t enable) { return socketSetBroadcast(fd_, enable); }
  SocketOutcome sendTo(const void* data, std::size_t size, const sockaddr_in& to) {
    return socketSendTo(fd_, data, size, to);
  }

 private:
  int fd_ = -1;
  int creationError_ = 0;
};

// Test seam: when set, every send, receive and receive-from first asks the
// shaper how many bytes it may move at most (0 forces would-block). Datagram
// sends are whole and never shaped. Set from tests only.
using TransferShaper = std::function<std::size_t(int fd, bool sending, std::size_t requested)>;
void setTransferShaper(TransferShaper shaper);

}  // namespace halvix::platform
