#include "tools/lampsim/lamp_report.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace halvix::lampsim {

namespace {

std::string hexColour(Rgb c) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x%02x", c.red, c.green, c.blue);
  return text;
}

const char* orderName(SeqVerdict v) {
  switch (v) {
    case SeqVerdict::First: return "first";
    case SeqVerdict::InOrder: return "in order";
    case SeqVerdict::Gap: return "gap";
    case SeqVerdict::Late: return "late";
    case SeqVerdict::Restart: return "restart";
  }
  return "?";
}

nlohmann::json latencyJson(const LatencyStats& s) {
  return {{"samples", s.count()}, {"p50_ns", s.percentile(50)}, {"p99_ns", s.percentile(99)}, {"max_ns", s.max()}};
}

std::string terminalBlock(Rgb c, const char* text) {
  char block[48];
  std::snprintf(block, sizeof block, "\x1b[48;2;%d;%d;%dm%s\x1b[0m", c.red, c.green, c.blue, text);
  return block;
}

// The strip sampled at the middle of each block's stretch, so that a short
// strip shows every LED once and a long one its whole length.
std::string stripBlocksText(const WledStrip& strip, unsigned blocks, bool terminal) {
  const auto& leds = strip.leds();
  const std::size_t count = std::min<std::size_t>(blocks, leds.size());
  std::string text = terminal ? " " : "[";
  for (std::size_t i = 0; i < count; ++i) {
    const Rgb c = leds[(2 * i + 1) * leds.size() / (2 * count)];
    text += terminal ? terminalBlock(c, " ") : (i ? "," : "") + hexColour(c);
  }
  return terminal ? text : text + "]";
}

nlohmann::json frameFields(const FrameRecord& record) {
  const LampFrame& f = record.check.frame;
  return {{"lamp", f.lampId}, {"r", f.red},          {"g", f.green},
          {"b", f.blue},      {"seq", f.seq},        {"sent_us", f.sentMicros},
          {"order", orderName(record.verdict)}};
}

// A packet of only the header sets no LED: it has no first one to show.
nlohmann::json packetFields(const FrameRecord& record) {
  const WledPacket& p = record.wled.packet;
  nlohmann::json j = {{"lamp", record.wledLampId},
                      {"packet", wledProtocolName(p.protocol)},
                      {"timeout", p.timeoutSeconds},
                      {"leds", p.leds.size()},
                      {"round", record.round}};
  if (!p.leds.empty()) {
    const WledLed& first = p.leds.front();
    const Rgb c = first.colour;
    j.update({{"first_led", first.index}, {"r", c.red}, {"g", c.green}, {"b", c.blue}});
  }
  return j;
}

const char* protocolName(LampProtocol p) { return p == LampProtocol::Wled ? "wled" : "lf"; }

std::string latencyText(const LatencyStats& s) {
  if (s.count() == 0) return "latency -";
  char text[96];
  std::snprintf(text, sizeof text, "latency p50 %.3f ms, p99 %.3f ms, max %.3f ms", s.percentile(50) / 1e6,
                s.percentile(99) / 1e6, s.max() / 1e6);
  return text;
}

}  // namespace

std::string liveLine(const LampBoard& board, bool terminal, unsigned stripBlocks) {
  std::string line;
  for (const auto& lamp : board.lamps()) {
    if (!line.empty()) line += ' ';
    const Rgb c = lamp.colour();
    if (!terminal) {
      line += lamp.id + "=" + (lamp.seen() ? hexColour(c) : "-");
    } else if (lamp.seen()) {
      line += terminalBlock(c, "    ") + " " + lamp.id;
    } else {
      line += " -- " + lamp.id;
    }
    if (stripBlocks > 0 && lamp.protocol == LampProtocol::Wled && lamp.seen())
      line += stripBlocksText(lamp.strip, stripBlocks, terminal);
  }
  return line;
}

nlohmann::json frameJson(const FrameRecord& record, std::size_t size) {
  nlohmann::json j;
  const bool wled = record.protocol == LampProtocol::Wled;
  if (!record.ok()) {
    j = {{"ok", false}, {"reason", record.reason}, {"bytes", size}, {"received_us", record.arrival.realtimeMicros}};
    if (wled) {
      j["lamp"] = record.wledLampId;
    } else if (record.check.ok()) {
      j["lamp"] = record.check.frame.lampId;
    }
    j["protocol"] = protocolName(record.protocol);
    return j;
  }
  j = wled ? packetFields(record) : frameFields(record);
  j["ok"] = true;
  j["protocol"] = protocolName(record.protocol);
  j["received_us"] = record.arrival.realtimeMicros;
  j["latency_ns"] = record.latencyNs ? nlohmann::json(*record.latencyNs) : nlohmann::json(nullptr);
  j["latency_from"] = record.latencyFrom == LatencySource::Stamp  ? "stamp"
                      : record.latencyFrom == LatencySource::Sent ? "sent"
                                                                  : "none";
  return j;
}

nlohmann::json summaryJson(const LampBoard& board) {
  nlohmann::json lamps = nlohmann::json::array();
  for (const auto& lamp : board.lamps()) {
    nlohmann::json j = {{"lamp", lamp.id},
                        {"protocol", protocolName(lamp.protocol)},
                        {"frames", lamp.frames()},
                        {"gaps", lamp.track.missing()},
                        {"reordered", lamp.track.reordered()},
                        {"restarts", lamp.track.restarts()},
                        {"latency", latencyJson(lamp.latency)}};
    if (lamp.protocol == LampProtocol::Wled)
      j.update({{"leds", lamp.strip.ledCount()},
                {"rounds", lamp.strip.rounds()},
                {"incomplete_rounds", lamp.strip.incompleteRounds()}});
    lamps.push_back(std::move(j));
  }
  return {{"summary", {{"lamps", lamps}, {"bad_frames", board.badFrames()}, {"latency", latencyJson(board.latency())}}}};
}

std::string summaryText(const LampBoard& board) {
  std::string text;
  // The protocol goes last, so that what came before it reads as it did.
  for (const auto& lamp : board.lamps()) {
    text += "lamp " + lamp.id + ": " + std::to_string(lamp.frames()) + " frames, ";
    if (lamp.protocol == LampProtocol::Wled) {
      const WledStrip& s = lamp.strip;
      text += std::to_string(s.rounds()) + " rounds, " + std::to_string(s.incompleteRounds()) + " incomplete rounds, " +
              latencyText(lamp.latency) + ", wled " + std::to_string(s.ledCount()) + " LEDs\n";
      continue;
    }
    const LampTrack& t = lamp.track;
    text += std::to_string(t.missing()) + " missing in gaps, " + std::to_string(t.reordered()) + " reordered";
    if (t.restarts()) text += ", " + std::to_string(t.restarts()) + " restarts";
    text += ", " + latencyText(lamp.latency) + ", lf\n";
  }
  text += "bad frames: " + std::to_string(board.badFrames()) + "\nall lamps: " + latencyText(board.latency()) + "\n";
  return text;
}

}  // namespace halvix::lampsim
