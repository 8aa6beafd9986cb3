#pragma once
// The socket calls of the native modules, one system call each, never
// blocking and never raising SIGPIPE. Results are those of the POSIX calls:
// a count, or -1 with the error in `error` (EINTR is retried, so it never
// comes back). A test seam can force short transfers and would-block.
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>

namespace halvix::platform {

ssize_t socketSend(int fd, const void* data, std::size_t size, int& error);
ssize_t socketRecv(int fd, void* data, std::size_t size, int& error);
ssize_t socketRecvFrom(int fd, void* data, std::size_t size, sockaddr* from, socklen_t* fromLength, int& error);
// Bytes waiting to be read (FIONREAD), or -1.
long socketPending(int fd);
int socketSetBufferSize(int fd, int option, int size);  // SO_SNDBUF / SO_RCVBUF; 0 or -1

// Test seam: when set, every send and receive first asks the shaper how many
// bytes it may move at most (0 forces would-block). Set from tests only.
using TransferShaper = std::function<std::size_t(int fd, bool sending, std::size_t requested)>;
void setTransferShaper(TransferShaper shaper);

}  // namespace halvix::platform
