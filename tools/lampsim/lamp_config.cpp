#include "tools/lampsim/lamp_config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/socket_io.h"

namespace halvix::lampsim {

namespace {

constexpr std::size_t kMaxIdLength = 255;
// A list is a handful of lines; more than this is the wrong file (or
// /dev/zero), refused before it fills memory.
constexpr std::size_t kMaxListBytes = 1024 * 1024;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::vector<std::string_view> words(std::string_view line) {
  line = line.substr(0, line.find('#'));
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isSpace(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !isSpace(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// The first control character in `word` (C0, DEL, or C1 spelt in UTF-8), if
// any: names and values are echoed to terminals, where these would act.
std::optional<unsigned> controlCharacter(std::string_view word) {
  for (std::size_t i = 0; i < word.size(); ++i) {
    const auto c = static_cast<unsigned char>(word[i]);
    if (c < 0x20 || c == 0x7F) return c;
    const auto next = i + 1 < word.size() ? static_cast<unsigned char>(word[i + 1]) : 0u;
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) return next;
  }
  return std::nullopt;
}

// 1 to `maxDigits` decimal digits, nothing else.
std::optional<unsigned> number(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

std::optional<std::uint32_t> ipv4(std::string_view text) {
  std::uint32_t host = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    auto octet = number(text.substr(0, dot), 3);
    if (!octet || *octet > 255) return std::nullopt;
    host = (host << 8) | *octet;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return htonl(host);
}

// The reason a lamp line is refused, empty when `lamp` was filled. `w`
// holds the words after "broadcast"; `expected` is the line's shape.
std::string readLamp(const std::vector<std::string_view>& w, const std::string& expected, LampAddress& lamp) {
  if (w[0].size() > kMaxIdLength) return "identifier longer than 255 bytes";
  auto address = ipv4(w[1]);
  if (!address) return "bad IPv4 address " + std::string(w[1]);
  auto port = number(w[2], 5);
  if (!port || *port < 1 || *port > 65535) return "bad port " + std::string(w[2]);
  lamp = {std::string(w[0]), *address, static_cast<std::uint16_t>(*port)};
  if (w.size() == 3 || (w[3] == "lf" && w.size() == 4)) return {};
  if (w[3] != "lf" && w[3] != "wled") return "unknown protocol " + std::string(w[3]) + " (lf or wled)";
  if (w[3] == "lf" || w.size() < 5 || w.size() > 6) return expected;
  auto leds = number(w[4], 4);
  if (!leds || *leds < 1 || *leds > kMaxWledLeds) return "LED count " + std::string(w[4]) + " out of range (1 to 1500)";
  lamp.protocol = LampProtocol::Wled;
  lamp.ledCount = *leds;
  if (w.size() == 6) {
    auto timeout = number(w[5], 3);
    if (!timeout || *timeout < 1 || *timeout > 255) return "bad timeout " + std::string(w[5]) + " (1 to 255 seconds)";
    lamp.timeoutSeconds = *timeout;
  }
  return {};
}

// The lamp already listed at the same address and port, when either of the
// two is a WLED lamp.
const LampAddress* sharedWledEndpoint(const LampConfig& config, const LampAddress& lamp) {
  const auto clash = [&](const LampAddress& other) {
    return other.address == lamp.address && other.port == lamp.port &&
           (other.protocol == LampProtocol::Wled || lamp.protocol == LampProtocol::Wled);
  };
  for (const auto& other : config.lamps)
    if (clash(other)) return &other;
  return config.broadcast && clash(*config.broadcast) ? &*config.broadcast : nullptr;
}

bool listed(const LampConfig& config, const std::string& id) {
  for (const auto& lamp : config.lamps)
    if (lamp.id == id) return true;
  return config.broadcast && config.broadcast->id == id;
}

}  // namespace

std::string addressText(std::uint32_t address) {
  const std::uint32_t host = ntohl(address);
  return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 255) + "." +
         std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
}

ConfigLoad parseLampConfig(std::string_view text, const std::string& where) {
  LampConfig config;
  int lineNumber = 0;
  while (!text.empty() || lineNumber == 0) {
    ++lineNumber;
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    auto fail = [&](const std::string& why) {
      return ConfigLoad{std::nullopt, where + ":" + std::to_string(lineNumber) + ": " + why};
    };

    auto w = words(line);
    if (w.empty()) continue;
    for (auto word : w) {
      if (auto c = controlCharacter(word)) {
        char code[8];
        std::snprintf(code, sizeof code, "U+%04X", *c);
        return fail(std::string("control character ") + code);
      }
    }
    const bool broadcast = w[0] == "broadcast";
    if (broadcast) w.erase(w.begin());
    const std::string expected = std::string("expected \"") + (broadcast ? "broadcast " : "") +
                                 "identifier address port [lf | wled LEDS [TIMEOUT]]\"";
    if (w.size() < 3) return fail(expected);
    LampAddress lamp;
    if (std::string why = readLamp(w, expected, lamp); !why.empty()) return fail(why);
    if (listed(config, lamp.id)) return fail("lamp " + lamp.id + " listed twice");
    if (const LampAddress* other = sharedWledEndpoint(config, lamp))
      return fail("lamp " + lamp.id + " shares " + addressText(lamp.address) + ":" + std::to_string(lamp.port) +
                  " with lamp " + other->id);
    if (broadcast) {
      if (config.broadcast) return fail("a second broadcast lamp");
      config.broadcast = lamp;
    } else {
      config.lamps.push_back(lamp);
    }
  }
  return ConfigLoad{std::move(config), {}};
}

ConfigLoad loadLampConfig(const std::string& path) {
  struct Close {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Close> file(std::fopen(path.c_str(), "rb"));
  auto unreadable = [&] { return ConfigLoad{std::nullopt, "cannot read " + path + ": " + std::strerror(errno)}; };
  if (!file) return unreadable();
  // One byte past the limit tells a list of exactly 1 MiB from a longer one.
  std::string text(kMaxListBytes + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  if (std::ferror(file.get())) return unreadable();
  if (text.size() > kMaxListBytes) return ConfigLoad{std::nullopt, path + ": longer than 1 MiB"};
  return parseLampConfig(text, path);
}

}  // namespace halvix::lampsim
