#include "modules/irpacker/irpacker_codec.h"

#include <algorithm>

namespace halvix::modules::irpacker {
namespace {

constexpr std::uint8_t kRunMark = 0x01;
constexpr std::size_t kMaxRun = 255;

bool isBreak(std::uint8_t code) { return code == 0 || code == 255; }
bool close(std::uint8_t x, std::uint8_t y) { return (x > y ? x - y : y - x) <= 2; }

class Packer {
 public:
  explicit Packer(std::string& out) : out_(out) { out_.clear(); }

  void add(std::uint8_t c) {
    if (isBreak(c)) {
      finish();
      put(c);
      return;
    }
    if (a_ == 0) {
      a_ = c;
    } else if (close(c, a_)) {
      if (n_ == 0) openRun();
      appendBit(false);
    } else if (b_ == 0) {
      b_ = c;
      if (n_ != 0) appendBit(true);
    } else if (close(c, b_)) {
      if (n_ == 0) openRun();
      appendBit(true);
    } else {
      if (n_ != 0) {
        writeRun();
      } else {
        put(a_);
        put(b_);
      }
      a_ = c;
      b_ = 0;
    }
  }

  // Closes the pending state.
  void finish() {
    if (n_ != 0) {
      writeRun();
    } else {
      if (a_ != 0) put(a_);
      if (b_ != 0) put(b_);
    }
    a_ = b_ = 0;
  }

  bool tooLong() const { return tooLong_; }

 private:
  void put(std::uint8_t byte) {
    if (out_.size() >= kMaxPacked) {
      tooLong_ = true;
      return;
    }
    out_.push_back(static_cast<char>(byte));
  }

  void openRun() {
    bits_.fill(0);
    n_ = 0;
    appendBitRaw(false);
    if (b_ != 0) appendBitRaw(true);
  }

  void appendBitRaw(bool one) {
    if (one) bits_[n_ / 8] |= static_cast<std::uint8_t>(0x80u >> (n_ % 8));
    ++n_;
  }

  void appendBit(bool one) {
    appendBitRaw(one);
    if (n_ == kMaxRun) {
      writeRun();
      a_ = b_ = 0;
    }
  }

  void writeRun() {
    put(kRunMark);
    put(a_);
    put(b_);
    put(static_cast<std::uint8_t>(n_));
    for (std::size_t i = 0; i < (n_ + 7) / 8; ++i) put(bits_[i]);
    n_ = 0;
  }

  std::string& out_;
  std::uint8_t a_ = 0;
  std::uint8_t b_ = 0;
  std::size_t n_ = 0;  // values in the open run; 0 = none
  std::array<std::uint8_t, (kMaxRun + 7) / 8> bits_{};
  bool tooLong_ = false;
};

}  // namespace

std::uint8_t codeOf(std::uint16_t value) {
  if (value == 0) return 0;
  if (value == 65535) return 255;
  if (value <= kTimings.front()) return 30;
  if (value >= kTimings.back()) return 197;
  const auto k = std::upper_bound(kTimings.begin(), kTimings.end(), value) - kTimings.begin() - 1;
  return static_cast<std::uint8_t>(30 + k);
}

std::uint16_t valueOf(std::uint8_t code) {
  if (code == 0) return 0;
  if (code == 255) return 65535;
  if (code <= 30) return kTimings.front();
  if (code >= 197) return kTimings.back();
  return kTimings[code - 30];
}

PackStatus pack(std::span<const std::uint16_t> values, std::string& out) {
  Packer packer(out);
  for (const std::uint16_t v : values) {
    packer.add(codeOf(v));
    if (packer.tooLong()) return PackStatus::TooLong;
  }
  packer.finish();
  return packer.tooLong() ? PackStatus::TooLong : PackStatus::Ok;
}

UnpackResult unpack(std::span<const std::uint8_t> data, std::vector<std::uint16_t>& out) {
  out.clear();
  out.reserve(data.size());
  std::size_t p = 0;
  while (p < data.size()) {
    if (data[p] != kRunMark) {
      out.push_back(valueOf(data[p]));
      ++p;
      continue;
    }
    if (data.size() - p < 4) return {UnpackStatus::RunPastEnd, p};
    const std::uint16_t a = valueOf(data[p + 1]);
    const std::uint16_t b = valueOf(data[p + 2]);
    const std::size_t n = data[p + 3];
    if (n == 0) return {UnpackStatus::EmptyRun, p};
    const std::size_t size = 4 + (n + 7) / 8;
    if (data.size() - p < size) return {UnpackStatus::RunPastEnd, p};
    for (std::size_t k = 0; k < n; ++k) {
      const bool one = (data[p + 4 + k / 8] >> (7 - k % 8)) & 1u;
      out.push_back(one ? b : a);
    }
    p += size;
  }
  return {};
}

}  // namespace halvix::modules::irpacker
