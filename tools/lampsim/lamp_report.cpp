#include "tools/lampsim/lamp_report.h"

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

std::string latencyText(const LatencyStats& s) {
  if (s.count() == 0) return "latency -";
  char text[96];
  std::snprintf(text, sizeof text, "latency p50 %.3f ms, p99 %.3f ms, max %.3f ms", s.percentile(50) / 1e6,
                s.percentile(99) / 1e6, s.max() / 1e6);
  return text;
}

}  // namespace

std::string liveLine(const LampBoard& board, bool terminal) {
  std::string line;
  for (const auto& lamp : board.lamps()) {
    if (!line.empty()) line += ' ';
    const Rgb c = lamp.track.colour();
    if (!terminal) {
      line += lamp.id + "=" + (lamp.track.seen() ? hexColour(c) : "-");
    } else if (lamp.track.seen()) {
      char block[48];
      std::snprintf(block, sizeof block, "\x1b[48;2;%d;%d;%dm    \x1b[0m ", c.red, c.green, c.blue);
      line += block + lamp.id;
    } else {
      line += " -- " + lamp.id;
    }
  }
  return line;
}

nlohmann::json frameJson(const FrameRecord& record, std::size_t size) {
  nlohmann::json j;
  if (!record.ok()) {
    j = {{"ok", false}, {"reason", record.reason}, {"bytes", size}, {"received_us", record.arrival.realtimeMicros}};
    if (record.check.ok()) j["lamp"] = record.check.frame.lampId;
    return j;
  }
  const LampFrame& f = record.check.frame;
  j = {{"ok", true},          {"lamp", f.lampId}, {"r", f.red},           {"g", f.green},
       {"b", f.blue},         {"seq", f.seq},     {"sent_us", f.sentMicros}, {"received_us", record.arrival.realtimeMicros},
       {"order", orderName(record.verdict)}};
  j["latency_ns"] = record.latencyNs ? nlohmann::json(*record.latencyNs) : nlohmann::json(nullptr);
  j["latency_from"] = record.latencyFrom == LatencySource::Stamp  ? "stamp"
                      : record.latencyFrom == LatencySource::Sent ? "sent"
                                                                  : "none";
  return j;
}

nlohmann::json summaryJson(const LampBoard& board) {
  nlohmann::json lamps = nlohmann::json::array();
  for (const auto& lamp : board.lamps()) {
    lamps.push_back({{"lamp", lamp.id},
                     {"frames", lamp.track.frames()},
                     {"gaps", lamp.track.missing()},
                     {"reordered", lamp.track.reordered()},
                     {"restarts", lamp.track.restarts()},
                     {"latency", latencyJson(lamp.latency)}});
  }
  return {{"summary", {{"lamps", lamps}, {"bad_frames", board.badFrames()}, {"latency", latencyJson(board.latency())}}}};
}

std::string summaryText(const LampBoard& board) {
  std::string text;
  for (const auto& lamp : board.lamps()) {
    const LampTrack& t = lamp.track;
    text += "lamp " + lamp.id + ": " + std::to_string(t.frames()) + " frames, " + std::to_string(t.missing()) +
            " missing in gaps, " + std::to_string(t.reordered()) + " reordered";
    if (t.restarts()) text += ", " + std::to_string(t.restarts()) + " restarts";
    text += ", " + latencyText(lamp.latency) + "\n";
  }
  text += "bad frames: " + std::to_string(board.badFrames()) + "\nall lamps: " + latencyText(board.latency()) + "\n";
  return text;
}

}  // namespace halvix::lampsim
