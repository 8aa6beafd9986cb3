#pragma once
// The lamp frame, the one datagram a simulated lamp understands (the demo
// application builds it in demo/lampdemo/frame.lua). Integers big-endian:
//
//   frame     = magic version id-length id red green blue seq sent crc
//   magic     = 0x4C 0x46                      ("LF")
//   version   = 0x01
//   id-length = 1 byte n, then id = n bytes    the lamp identifier
//   red, green, blue = 1 byte each
//   seq       = 4 bytes, unsigned              the lamp's own counter, +1 a frame, wrapping
//   sent      = 8 bytes, signed                microseconds since the Unix epoch on
//                                              CLOCK_REALTIME when the frame was built
//   crc       = 2 bytes                        CRC-16 (0x1021, MSB first, init 0xFFFF, no
//                                              final XOR; zcrc16) of every byte before it
//
// A frame is exactly 21 + n bytes.
#include <cstdint>
#include <string>
#include <string_view>

namespace halvix::lampsim {

inline constexpr std::uint16_t kFrameMagic = 0x4C46;
inline constexpr std::uint8_t kFrameVersion = 1;
inline constexpr std::uint16_t kFrameCrcInit = 0xFFFF;
inline constexpr std::size_t kFrameFixedSize = 21;

struct LampFrame {
  std::string lampId;
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint32_t seq = 0;
  std::int64_t sentMicros = 0;
};

// A frame, or the reason it was refused: "short frame", "bad magic",
// "bad version", "bad length", "bad checksum" (checked in that order).
struct FrameCheck {
  LampFrame frame;
  std::string reason;
  bool ok() const { return reason.empty(); }
};

FrameCheck parseLampFrame(std::string_view bytes);

}  // namespace halvix::lampsim
