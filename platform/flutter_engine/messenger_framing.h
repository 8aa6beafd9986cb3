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

// Parses one body (without its length prefix); nullopt when malformed.
std::optional<Frame> parseFrameBody(const uint8_t* body, size_t size);

// Cuts a byte stream into frames. Once it has seen a protocol error it stays
// failed and yields nothing more.
class FrameReader {
 public:
  void feed(const uint8_t* data, size_t size);
  std::optional<Frame> next();
  bool failed() const { return failed_; }
  // Bytes held that do not yet make a whole frame.
  size_t pending() const { return buffer_.size() - start_; }

 private:
  static constexpr size_t kKeptCapacity = 1u << 20;

  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  bool failed_ = false;
};

}  // namespace halvix::flutter_engine
