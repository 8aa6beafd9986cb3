#pragma once
// What a simulated lamp knows of its own frames: its colour, and the order of
// their sequence numbers. Numbers wrap at 2^32 and are compared by their
// signed 32-bit difference from the newest one seen.
#include <cstdint>
#include <vector>

namespace halvix::lampsim {

struct Rgb {
  std::uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Rgb&) const = default;
};

enum class SeqVerdict {
  First,    // the lamp's first frame
  InOrder,  // newest + 1
  Gap,      // newer, with numbers missing before it
  Late,     // not newer than the newest: reordered, or a duplicate
  Restart,  // far behind: the sender started counting again
};

// A jump back further than this is a sender that started again, not a frame
// that lost its way.
inline constexpr std::int64_t kRestartDistance = 64;

class LampTrack {
 public:
  // Counts the frame; the colour follows the newest frame only.
  SeqVerdict accept(std::uint32_t seq, Rgb colour);

  bool seen() const { return seen_; }
  Rgb colour() const { return colour_; }
  std::uint64_t frames() const { return frames_; }
  std::uint64_t missing() const { return missing_; }    // numbers skipped by gaps
  std::uint64_t reordered() const { return reordered_; }
  std::uint64_t restarts() const { return restarts_; }

 private:
  bool seen_ = false;
  std::uint32_t newest_ = 0;
  Rgb colour_;
  std::uint64_t frames_ = 0, missing_ = 0, reordered_ = 0, restarts_ = 0;
};

// Latency samples in nanoseconds; percentiles by nearest rank.
class LatencyStats {
 public:
  void add(std::int64_t ns) { samples_.push_back(ns); }
  std::size_t count() const { return samples_.size(); }
  // p in (0, 100]; 0 when there are no samples.
  std::int64_t percentile(double p) const;
  std::int64_t max() const;

 private:
  std::vector<std::int64_t> samples_;
};

}  // namespace halvix::lampsim
