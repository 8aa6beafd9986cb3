#pragma once
// A diagnostic line that may come very often, such as one per unanswered
// message: the first few occurrences print as they are, later ones at most
// once per interval as one line that counts them.
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

namespace flutter::internal {

class RepeatedWarning {
 public:
  using Clock = std::chrono::steady_clock;

  RepeatedWarning(std::string line, size_t burst, Clock::duration interval)
      : line_(std::move(line)), burst_(burst), interval_(interval) {}

  // Any thread: what to print for one more occurrence at `now` (the line,
  // the line with the count held back since the last one printed, or
  // nothing). Occurrences after the last printed line are not reported
  // unless another one comes after the interval.
  std::optional<std::string> occur(Clock::time_point now);

 private:
  const std::string line_;
  const size_t burst_;
  const Clock::duration interval_;
  std::mutex mutex_;
  size_t printed_ = 0;
  size_t heldBack_ = 0;
  Clock::time_point lastPrinted_{};
};

}  // namespace flutter::internal
