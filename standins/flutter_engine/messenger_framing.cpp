#include "standins/flutter_engine/messenger_framing.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace halvix::flutter_engine {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void setU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The length prefix and the body's head in one buffer sized for the whole
// frame, so that a large payload is copied once.
std::vector<uint8_t> startFrame(size_t bodySize) {
  if (bodySize > kMaxFrameBody) throw std::length_error("messenger frame too large");
  std::vector<uint8_t> out;
  out.reserve(4 + bodySize);
  putU32(out, static_cast<uint32_t>(bodySize));
  return out;
}

// Where a body's payload starts; 0 when the body is malformed.
size_t payloadOffset(const uint8_t* body, size_t size, Frame& frame) {
  if (size < 5) return 0;
  frame.id = getU32(body + 1);
  size_t at = 5;
  if (body[0] == static_cast<uint8_t>(FrameKind::kMessage)) {
    frame.kind = FrameKind::kMessage;
    if (size - at < 2) return 0;
    size_t nameLength = size_t{body[at]} | size_t{body[at + 1]} << 8;
    at += 2;
    if (nameLength == 0 || nameLength > size - at) return 0;
    frame.channel.assign(reinterpret_cast<const char*>(body + at), nameLength);
    at += nameLength;
  } else if (body[0] == static_cast<uint8_t>(FrameKind::kReply)) {
    frame.kind = FrameKind::kReply;
  } else {
    return 0;
  }
  return at;
}

}  // namespace

std::vector<uint8_t> encodeMessageFrame(uint32_t id, const std::string& channel, const uint8_t* payload,
                                        size_t size) {
  if (channel.empty() || channel.size() > 0xffff) throw std::length_error("bad channel name length");
  if (size > kMaxFrameBody) throw std::length_error("messenger frame too large");
  std::vector<uint8_t> out = startFrame(7 + channel.size() + size);
  out.push_back(static_cast<uint8_t>(FrameKind::kMessage));
  putU32(out, id);
  out.push_back(static_cast<uint8_t>(channel.size()));
  out.push_back(static_cast<uint8_t>(channel.size() >> 8));
  out.insert(out.end(), channel.begin(), channel.end());
  if (size) out.insert(out.end(), payload, payload + size);
  return out;
}

std::vector<uint8_t> encodeReplyFrame(uint32_t id, const uint8_t* payload, size_t size) {
  return ReplyFrame(payload, size).seal(id);
}

ReplyFrame::ReplyFrame(const uint8_t* payload, size_t size) {
  bytes_.reserve(kHead + size);
  bytes_.resize(kHead);
  if (size) bytes_.insert(bytes_.end(), payload, payload + size);
}

std::vector<uint8_t> ReplyFrame::seal(uint32_t id) && {
  const size_t body = bytes_.size() - 4;
  if (body > kMaxFrameBody) throw std::length_error("messenger frame too large");
  setU32(bytes_.data(), static_cast<uint32_t>(body));
  bytes_[4] = static_cast<uint8_t>(FrameKind::kReply);
  setU32(bytes_.data() + 5, id);
  return std::move(bytes_);
}

std::optional<Frame> parseFrameBody(const uint8_t* body, size_t size) {
  Frame frame;
  size_t at = payloadOffset(body, size, frame);
  if (at == 0) return std::nullopt;
  frame.payload.assign(body + at, body + size);
  return frame;
}

std::optional<Frame> parseFrameBody(std::vector<uint8_t>&& body) {
  Frame frame;
  size_t at = payloadOffset(body.data(), body.size(), frame);
  if (at == 0) return std::nullopt;
  body.erase(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(at));
  frame.payload = std::move(body);
  return frame;
}

void FrameReader::feed(const uint8_t* data, size_t size) {
  while (!failed_) {
    size_t taken = take(data, size);
    data += taken;
    size -= taken;
    if (!awaiting()) return;
    admit();
  }
}

size_t FrameReader::take(const uint8_t* data, size_t size) {
  size_t taken = 0;
  while (taken < size && !failed_) {
    if (headerFill_ < 4) {
      size_t n = std::min(4 - headerFill_, size - taken);
      std::memcpy(header_ + headerFill_, data + taken, n);
      headerFill_ += n;
      taken += n;
      if (headerFill_ < 4) break;
      length_ = getU32(header_);
      if (length_ == 0 || length_ > kMaxFrameBody) failed_ = true;
      continue;
    }
    if (!admitted_) break;
    size_t n = std::min(size_t{length_} - body_.size(), size - taken);
    body_.insert(body_.end(), data + taken, data + taken + n);
    taken += n;
    if (body_.size() < length_) break;
    auto frame = parseFrameBody(std::move(body_));
    body_ = {};
    headerFill_ = 0;
    admitted_ = false;
    if (!frame) {
      failed_ = true;
      break;
    }
    ready_.push_back(std::move(*frame));
  }
  return taken;
}

std::optional<uint32_t> FrameReader::awaiting() const {
  if (failed_ || headerFill_ < 4 || admitted_) return std::nullopt;
  return length_;
}

void FrameReader::admit() {
  if (!awaiting()) return;
  admitted_ = true;
  try {
    body_.reserve(length_);
  } catch (const std::bad_alloc&) {
    // Grown as the bytes come, then.
  }
}

std::optional<Frame> FrameReader::next() {
  if (ready_.empty()) return std::nullopt;
  Frame frame = std::move(ready_.front());
  ready_.pop_front();
  return frame;
}

}  // namespace halvix::flutter_engine
