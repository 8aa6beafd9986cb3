#include "platform/flutter/repeated_warning.h"

namespace flutter::internal {

std::optional<std::string> RepeatedWarning::occur(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (printed_ < burst_) {
    ++printed_;
    lastPrinted_ = now;
    return line_;
  }
  ++heldBack_;
  if (now - lastPrinted_ < interval_) return std::nullopt;
  std::string summary = line_ + " (" + std::to_string(heldBack_) + " times since the last such line)";
  heldBack_ = 0;
  lastPrinted_ = now;
  return summary;
}

}  // namespace flutter::internal
