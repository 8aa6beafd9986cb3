#include "tools/lampsim/lamp_frame.h"

#include "modules/zstr/crc.h"

namespace halvix::lampsim {

namespace {

std::uint64_t bigEndian(const unsigned char* p, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | p[i];
  return value;
}

}  // namespace

FrameCheck parseLampFrame(std::string_view bytes) {
  FrameCheck check;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < kFrameFixedSize) {
    check.reason = "short frame";
  } else if (bigEndian(p, 2) != kFrameMagic) {
    check.reason = "bad magic";
  } else if (p[2] != kFrameVersion) {
    check.reason = "bad version";
  } else if (bytes.size() != kFrameFixedSize + p[3]) {
    check.reason = "bad length";
  } else if (modules::zstr::crc16(kFrameCrcInit, p, bytes.size() - 2) != bigEndian(p + bytes.size() - 2, 2)) {
    check.reason = "bad checksum";
  }
  if (!check.ok()) return check;

  const std::size_t idLength = p[3];
  const unsigned char* q = p + 4 + idLength;
  LampFrame& f = check.frame;
  f.lampId.assign(bytes.substr(4, idLength));
  f.red = q[0];
  f.green = q[1];
  f.blue = q[2];
  f.seq = static_cast<std::uint32_t>(bigEndian(q + 3, 4));
  f.sentMicros = static_cast<std::int64_t>(bigEndian(q + 7, 8));
  return check;
}

}  // namespace halvix::lampsim
