#include "tools/lampsim/stamp_follower.h"

#include <charconv>

namespace halvix::lampsim {

StampFollower::~StampFollower() { closeFile(); }

void StampFollower::feed(std::string_view text) {
  for (;;) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) break;
    if (partial_.empty()) {
      takeLine(text.substr(0, end));
    } else {
      partial_.append(text.substr(0, end));
      takeLine(partial_);
      partial_.clear();
    }
    text.remove_prefix(end + 1);
  }
  // A line that never ends is not kept without bound.
  if (partial_.size() + text.size() <= 256) {
    partial_.append(text);
  } else {
    partial_.clear();
    ++badLines_;
  }
}

void StampFollower::takeLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t space = line.find(' ');
  std::int64_t ns = 0;
  std::uint32_t rgb = 0;
  if (space == std::string_view::npos || line.size() - space - 1 != 6) {
    ++badLines_;
    return;
  }
  const char* end = line.data() + space;
  auto [nsEnd, nsError] = std::from_chars(line.data(), end, ns);
  auto [rgbEnd, rgbError] = std::from_chars(end + 1, line.data() + line.size(), rgb, 16);
  if (nsError != std::errc() || nsEnd != end || ns < 0 || rgbError != std::errc() ||
      rgbEnd != line.data() + line.size()) {
    ++badLines_;
    return;
  }
  stamps_.push_back({ns, Rgb{static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                             static_cast<std::uint8_t>(rgb)}});
  if (stamps_.size() > kKept) stamps_.pop_front();
}

std::optional<std::int64_t> StampFollower::eventTime(Rgb colour, std::int64_t atNs) const {
  for (auto it = stamps_.rbegin(); it != stamps_.rend(); ++it)
    if (it->colour == colour && it->ns <= atNs) return it->ns;
  return std::nullopt;
}

}  // namespace halvix::lampsim
