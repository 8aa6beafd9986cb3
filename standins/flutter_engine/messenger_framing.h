#pragma once
// The framing that carries channel messages between the engine stand-in and
// its Dart-side clients over a Unix-domain stream socket.
//
// stream  = frame*
// frame   = length:u32le body                  1 <= length <= kMaxFrameBody
// body    = 0x01 id:u32le nameLength:u16le name payload   message on channel `name`
//         | 0x02 id:u32le payload                          reply to message `id`
//
// A message's id is chosen by its sender: 0 when no reply is wanted, else
// unique among the sender's messages still awaiting a reply. nameLength is at
// least 1. The payload is the rest of the body (here, standard-codec bytes);
// an empty reply payload means that no handler answered ("not implemented").
// Any other byte sequence is a protocol error: the engine drops the client.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace halvix::flutter_engine {

inline constexpr uint32_t kMaxFrameBody = 64u * 1024u * 1024u;

enum class FrameKind : uint8_t { kMessage = 1, kReply = 2 };

struct Frame {
  FrameKind kind = FrameKind::kMessage;
  uint32_t id = 0;
  std::string channel;  // messages only
  std::vector<uint8_t> payload;
};

std::vector<uint8_t> encodeMessageFrame(uint32_t id, const std::string& channel, const uint8_t* payload,
                                        size_t size);
std::vector<uint8_t> encodeReplyFrame(uint32_t id, const uint8_t* payload, size_t size);

// A reply made before the id it answers is at hand: the payload is copied
// once, behind room for the frame's head, and sealing writes the head in
// place, so that the copy taken from whoever answers is the frame written.
class ReplyFrame {
 public:
  ReplyFrame(const uint8_t* payload, size_t size);
  size_t payloadSize() const { return bytes_.size() - kHead; }
  // The whole frame; std::length_error beyond kMaxFrameBody.
  std::vector<uint8_t> seal(uint32_t id) &&;

 private:
  static constexpr size_t kHead = 9;
  std::vector<uint8_t> bytes_;
};

// Parses one body (without its length prefix); nullopt when malformed.
std::optional<Frame> parseFrameBody(const uint8_t* body, size_t size);
// The same, taking the body's buffer over as the payload rather than
// copying it.
std::optional<Frame> parseFrameBody(std::vector<uint8_t>&& body);

// Cuts a byte stream into frames. Once it has seen a protocol error it stays
// failed and yields nothing more. Each frame is gathered in a buffer of its
// own, taken at the length its prefix announces and handed over as the
// frame's payload, so that it is never copied as it comes in and the reader
// keeps no room once its frames are taken.
class FrameReader {
 public:
  // Takes every byte.
  void feed(const uint8_t* data, size_t size);
  // Takes bytes up to the end, or up to a frame whose prefix is complete but
  // that is not admitted yet (see awaiting()); returns how many it took.
  size_t take(const uint8_t* data, size_t size);
  // The length announced by a frame that waits to be admitted before its
  // body is taken; nullopt when none waits.
  std::optional<uint32_t> awaiting() const;
  // Lets the waiting frame in: its room is taken now.
  void admit();
  std::optional<Frame> next();
  bool failed() const { return failed_; }
  // Bytes held for what does not yet make a whole frame: its length prefix,
  // and once it is admitted, room for its whole body.
  size_t pending() const { return headerFill_ + (admitted_ ? size_t{length_} : 0); }

 private:
  uint8_t header_[4] = {};
  size_t headerFill_ = 0;
  uint32_t length_ = 0;
  bool admitted_ = false;
  std::vector<uint8_t> body_;
  std::deque<Frame> ready_;
  bool failed_ = false;
};

}  // namespace halvix::flutter_engine
