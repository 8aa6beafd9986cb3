#include "standins/flutter_engine/messenger_client.h"

#include <algorithm>
#include <thread>

#include "platform/socket_io.h"

namespace halvix::flutter_engine {

MessengerClient::MessengerClient(const std::string& path) : fd_(connectMessenger(path)) {}

MessengerClient::~MessengerClient() {
  if (fd_ >= 0) closeMessengerSocket(fd_);
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
    auto sent = platform::socketSend(fd_, data, size);
    if (!sent.done()) {
      closed_ = true;
      return false;
    }
    data += sent.count;
    size -= sent.count;
  }
  return true;
}

bool MessengerClient::waitUntilRead(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto unread = messengerUnreadBytes(fd_);
    if (!unread) return false;
    if (*unread == 0) return true;
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
    if (left.count() < 0 || !waitMessengerReadable(fd_, left)) return std::nullopt;
    uint8_t buffer[65536];
    auto received = platform::socketRecv(fd_, buffer, sizeof buffer);
    if (received.status == platform::SocketStatus::WouldBlock) continue;
    if (!received.done()) {
      closed_ = true;
      continue;
    }
    reader_.feed(buffer, received.count);
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
