#pragma once
// What a simulated lamp knows of its own frames: its colour, and the order of
// their sequence numbers. Numbers wrap at 2^32 and are compared by their
// signed 32-bit difference from the newest one seen. A frame that is not
// newer by number but was sent later than the newest comes from a sender that
// started counting again (the application restarted), not from the past.
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
  Restart,  // not newer, yet sent after the newest: the sender started again
};

class LampTrack {
 public:
  // Counts the frame; the colour follows the newest frame only.
  SeqVerdict accept(std::uint32_t seq, std::int64_t sentMicros, Rgb colour);

  bool seen() const { return seen_; }
  Rgb colour() const { return colour_; }
  std::uint64_t frames() const { return frames_; }
  std::uint64_t missing() const { return missing_; }    // numbers skipped by gaps
  std::uint64_t reordered() const { return reordered_; }
  std::uint64_t restarts() const { return restarts_; }

 private:
  bool seen_ = false;
  std::uint32_t newest_ = 0;
  std::int64_t newestSent_ = 0;
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
