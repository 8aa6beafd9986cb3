#include "standins/flutter_engine/output_gate.h"

#include <utility>

namespace halvix::flutter_engine {

OutputGate::Outcome OutputGate::write(std::vector<uint8_t>& frame) {
  if (frame.empty() || frame.size() > kLargestFrame) return Outcome::kRefused;
  std::lock_guard lock(mutex_);
  if (!open_) return Outcome::kRefused;
  const std::ptrdiff_t written = MessengerEndpoint::writeWithoutWaiting(socket_, frame.data(), frame.size());
  // An error is left for the I/O thread to meet as it writes, and report.
  if (written <= 0) return Outcome::kRefused;
  if (static_cast<size_t>(written) == frame.size()) return Outcome::kWritten;
  open_ = false;
  rest_ = Rest{std::move(frame), static_cast<size_t>(written)};
  return Outcome::kPartly;
}

OutputGate::Rest OutputGate::shut() {
  std::lock_guard lock(mutex_);
  open_ = false;
  return std::exchange(rest_, {});
}

void OutputGate::open() {
  std::lock_guard lock(mutex_);
  open_ = !closed_ && rest_.frame.empty();
}

bool OutputGate::park(size_t cost) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  settled_ += cost;
  return true;
}

size_t OutputGate::takeSettled() {
  std::lock_guard lock(mutex_);
  return std::exchange(settled_, 0);
}

size_t OutputGate::close() {
  std::lock_guard lock(mutex_);
  open_ = false;
  closed_ = true;
  rest_ = {};
  return std::exchange(settled_, 0);
}

}  // namespace halvix::flutter_engine
