#include "platform/flutter_engine/messenger_client.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace halvix::flutter_engine {

MessengerClient::MessengerClient(const std::string& path) {
  auto address = messengerSocketAddress(path);
  if (!address) throw std::system_error(ENAMETOOLONG, std::generic_category(), "socket path");
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    int code = errno;
    ::close(fd_);
    throw std::system_error(code, std::generic_category(), "connect " + path);
  }
  auto peer = messengerPeerUid(fd_);
  uid_t self = ::geteuid();
  if (!peer || *peer != self) {
    ::close(fd_);
    throw std::runtime_error("refusing the messenger at " + path + ": it is served by " +
                             (peer ? "uid " + std::to_string(*peer) : std::string("an unknown user")) +
                             ", not by you (uid " + std::to_string(self) + ")");
  }
}

MessengerClient::~MessengerClient() {
  if (fd_ >= 0) ::close(fd_);
}

uint32_t MessengerClient::send(const std::string& channel, const std::vector<uint8_t>& payload) {
  uint32_t id = nextId_++;
  if (nextId_ == 0) nextId_ = 1;
  auto frame = encodeMessageFrame(id, channel, payload.data(), payload.size());
  sendRaw(frame.data(), frame.size());
  return id;
}

bool MessengerClient::sendRaw(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool MessengerClient::waitUntilRead(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int unread = 0;
    if (::ioctl(fd_, SIOCOUTQ, &unread) != 0) return false;
    if (unread == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::optional<Frame> MessengerClient::readFrame(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (auto frame = reader_.next()) return frame;
    if (reader_.failed() || closed_) {
      closed_ = true;
      return std::nullopt;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return std::nullopt;
    uint8_t buffer[65536];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      closed_ = true;
      continue;
    }
    reader_.feed(buffer, static_cast<size_t>(n));
  }
}

MessengerClient::Outcome MessengerClient::waitReply(uint32_t id, std::chrono::milliseconds timeout,
                                                    std::vector<uint8_t>* reply) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto frame = readFrame(std::max(left, std::chrono::milliseconds(0)));
    if (!frame) return closed_ ? Outcome::kClosed : Outcome::kTimeout;
    if (frame->kind == FrameKind::kReply && frame->id == id) {
      if (reply) *reply = std::move(frame->payload);
      return Outcome::kReply;
    }
  }
}

}  // namespace halvix::flutter_engine
