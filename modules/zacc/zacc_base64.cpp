#include "modules/zacc/zacc_base64.h"

#include <array>
#include <cstdint>

namespace halvix::modules::zacc {

std::string toBin64(std::string_view data, std::string_view alphabet, std::string_view pad) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4 + 2 * pad.size());
  auto sym = [&](std::uint32_t v) { out.push_back(alphabet[v & 63]); };
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t n = data.size();
  for (; n >= 3; n -= 3, p += 3) {
    const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    sym(v >> 18);
    sym(v >> 12);
    sym(v >> 6);
    sym(v);
  }
  if (n == 1) {
    const std::uint32_t v = std::uint32_t{p[0]} << 16;
    sym(v >> 18);
    sym(v >> 12);
    out.append(pad);
    out.append(pad);
  } else if (n == 2) {
    const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8);
    sym(v >> 18);
    sym(v >> 12);
    sym(v >> 6);
    out.append(pad);
  }
  return out;
}

std::optional<std::string> fromBin64(std::string_view text, std::string_view alphabet,
                                     std::string_view pad) {
  constexpr std::uint8_t kInvalid = 0xff;
  std::array<std::uint8_t, 256> map;
  map.fill(kInvalid);
  for (std::uint8_t i = 0; i < 64; ++i) map[static_cast<unsigned char>(alphabet[i])] = i;

  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  std::uint32_t group = 0;
  int count = 0;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32) continue;
    const std::uint8_t v = map[c];
    if (v == kInvalid) {
      if (!pad.empty() && ch == pad.front()) break;
      return std::nullopt;
    }
    group = (group << 6) | v;
    if (++count == 4) {
      out.push_back(static_cast<char>(group >> 16));
      out.push_back(static_cast<char>((group >> 8) & 0xff));
      out.push_back(static_cast<char>(group & 0xff));
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out.push_back(static_cast<char>(group >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<char>(group >> 10));
    out.push_back(static_cast<char>((group >> 2) & 0xff));
  }
  return out;
}

}  // namespace halvix::modules::zacc
