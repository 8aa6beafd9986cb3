#include "platform/flutter_engine/messenger_framing.h"

#include <cstring>
#include <stdexcept>

namespace halvix::flutter_engine {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t getU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::vector<uint8_t> withLength(std::vector<uint8_t> body) {
  if (body.size() > kMaxFrameBody) throw std::length_error("messenger frame too large");
  std::vector<uint8_t> out;
  out.reserve(4 + body.size());
  putU32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace

std::vector<uint8_t> encodeMessageFrame(uint32_t id, const std::string& channel, const uint8_t* payload,
                                        size_t size) {
  if (channel.empty() || channel.size() > 0xffff) throw std::length_error("bad channel name length");
  std::vector<uint8_t> body;
  body.reserve(7 + channel.size() + size);
  body.push_back(static_cast<uint8_t>(FrameKind::kMessage));
  putU32(body, id);
  body.push_back(static_cast<uint8_t>(channel.size()));
  body.push_back(static_cast<uint8_t>(channel.size() >> 8));
  body.insert(body.end(), channel.begin(), channel.end());
  if (size) body.insert(body.end(), payload, payload + size);
  return withLength(std::move(body));
}

std::vector<uint8_t> encodeReplyFrame(uint32_t id, const uint8_t* payload, size_t size) {
  std::vector<uint8_t> body;
  body.reserve(5 + size);
  body.push_back(static_cast<uint8_t>(FrameKind::kReply));
  putU32(body, id);
  if (size) body.insert(body.end(), payload, payload + size);
  return withLength(std::move(body));
}

std::optional<Frame> parseFrameBody(const uint8_t* body, size_t size) {
  if (size < 5) return std::nullopt;
  Frame frame;
  frame.id = getU32(body + 1);
  size_t at = 5;
  if (body[0] == static_cast<uint8_t>(FrameKind::kMessage)) {
    frame.kind = FrameKind::kMessage;
    if (size - at < 2) return std::nullopt;
    size_t nameLength = size_t{body[at]} | size_t{body[at + 1]} << 8;
    at += 2;
    if (nameLength == 0 || nameLength > size - at) return std::nullopt;
    frame.channel.assign(reinterpret_cast<const char*>(body + at), nameLength);
    at += nameLength;
  } else if (body[0] == static_cast<uint8_t>(FrameKind::kReply)) {
    frame.kind = FrameKind::kReply;
  } else {
    return std::nullopt;
  }
  frame.payload.assign(body + at, body + size);
  return frame;
}

void FrameReader::feed(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  // Drop consumed bytes before growing, so the buffer stays near one frame.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

std::optional<Frame> FrameReader::next() {
  if (failed_ || pending() < 4) return std::nullopt;
  uint32_t length = getU32(buffer_.data() + start_);
  if (length == 0 || length > kMaxFrameBody) {
    failed_ = true;
    return std::nullopt;
  }
  if (pending() - 4 < length) return std::nullopt;
  auto frame = parseFrameBody(buffer_.data() + start_ + 4, length);
  if (!frame) {
    failed_ = true;
    return std::nullopt;
  }
  start_ += 4 + size_t{length};
  if (start_ == buffer_.size()) {
    // A large frame's room is given back once it is read, so that an idle
    // client does not keep it.
    if (buffer_.capacity() > kKeptCapacity)
      std::vector<uint8_t>().swap(buffer_);
    else
      buffer_.clear();
    start_ = 0;
  }
  return frame;
}

}  // namespace halvix::flutter_engine
