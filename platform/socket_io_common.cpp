#include "platform/socket_io_common.h"

#include <utility>

namespace halvix::platform {
namespace {

// The seam is process-wide on purpose: the modules reach the system only
// through the socket layer, so one hook shapes every transfer.
TransferShaper& shaper() {
  static TransferShaper instance;
  return instance;
}

}  // namespace

bool shapeTransfer(int fd, bool sending, std::size_t& size) {
  const TransferShaper& s = shaper();
  if (!s || size == 0) return true;
  std::size_t allowed = s(fd, sending, size);
  if (allowed == 0) return false;
  size = std::min(size, allowed);
  return true;
}

void setTransferShaper(TransferShaper s) { shaper() = std::move(s); }

DatagramSocket::DatagramSocket(DatagramSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), creationError_(std::exchange(other.creationError_, 0)) {}

DatagramSocket& DatagramSocket::operator=(DatagramSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    creationError_ = std::exchange(other.creationError_, 0);
  }
  return *this;
}

}  // namespace halvix::platform
