#include "tools/lampsim/lamp_track.h"

#include <algorithm>
#include <cmath>

namespace halvix::lampsim {

SeqVerdict LampTrack::accept(std::uint32_t seq, std::int64_t sentMicros, Rgb colour) {
  ++frames_;
  SeqVerdict verdict;
  if (!seen_) {
    verdict = SeqVerdict::First;
  } else {
    const auto ahead = static_cast<std::int64_t>(static_cast<std::int32_t>(seq - newest_));
    if (ahead == 1) {
      verdict = SeqVerdict::InOrder;
    } else if (ahead > 1) {
      verdict = SeqVerdict::Gap;
      missing_ += static_cast<std::uint64_t>(ahead - 1);
    } else if (sentMicros > newestSent_) {
      verdict = SeqVerdict::Restart;
      ++restarts_;
    } else {
      ++reordered_;
      return SeqVerdict::Late;
    }
  }
  seen_ = true;
  newest_ = seq;
  newestSent_ = sentMicros;
  colour_ = colour;
  return verdict;
}

std::int64_t LatencyStats::percentile(double p) const {
  if (samples_.empty()) return 0;
  std::vector<std::int64_t> sorted(samples_);
  auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
  rank = std::clamp<std::size_t>(rank, 1, sorted.size());
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(rank - 1), sorted.end());
  return sorted[rank - 1];
}

std::int64_t LatencyStats::max() const {
  return samples_.empty() ? 0 : *std::max_element(samples_.begin(), samples_.end());
}

}  // namespace halvix::lampsim
