// The main job's flow, shortened: a signed stand-in Chroma Connect library
// cycling red, green and blue, halvix with the demo bundle, simulated lamps
// (one of our own frame, two WLED devices) reporting every frame as JSON. As
// root the flow also puts a WLED lamp on the LAN broadcast path inside
// network namespaces of its own.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Frame {
  std::string colour;  // rrggbb
  std::int64_t receivedUs;
};

struct LampLog {
  std::map<std::string, std::vector<Frame>> frames;
  json summary;
  int bad = 0;
};

LampLog readLamps(const fs::path& file) {
  LampLog log;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const json record = json::parse(line);
    if (record.contains("summary")) {
      log.summary = record["summary"];
    } else if (!record.value("ok", false)) {
      ++log.bad;
    } else {
      char colour[8];
      std::snprintf(colour, sizeof colour, "%02x%02x%02x", record["r"].get<int>(), record["g"].get<int>(),
                    record["b"].get<int>());
      log.frames[record["lamp"]].push_back({colour, record["received_us"].get<std::int64_t>()});
    }
  }
  return log;
}

std::map<std::string, std::int64_t> readEvents(const fs::path& file) {
  std::map<std::string, std::int64_t> events;
  std::ifstream in(file);
  std::int64_t at = 0;
  for (std::string what; in >> at && std::getline(in >> std::ws, what);) events[what] = at;
  return events;
}

// The colours a lamp showed, each change once, without the black it shows
// before the first Chroma event.
std::vector<std::string> changes(const std::vector<Frame>& frames) {
  std::vector<std::string> seen;
  for (const Frame& frame : frames)
    if (frame.colour != "000000" && (seen.empty() || seen.back() != frame.colour)) seen.push_back(frame.colour);
  return seen;
}

TEST(WholeSystem, TheChromaColourReachesTheLampsInOrderUntilEachIsSwitchedOff) {
  halvix::test::TempDir dir;
  const fs::path colours = dir.write("colours", "ff0000 250\n00ff00 250\n0000ff 250\n");
  const fs::path out = dir.path() / "json";
  const halvix::test::ProcessOutcome run = halvix::test::runToEnd(
      "/bin/bash",
      {std::string(HALVIX_SOURCE_DIR) + "/scripts/demo-flow.sh", "--build", HALVIX_BUILD_DIR, "--seconds", "4",
       "--colours", colours.string(), "--json", out.string(), "--logs", (dir.path() / "logs").string()},
      dir.path());
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err << halvix::test::readWholeFile(dir.path() / "logs/halvix.log");
  EXPECT_EQ(halvix::test::readWholeFile(dir.path() / "logs/halvix.exit"), "0\n");

  const auto events = readEvents(out / "events.txt");
  const LampLog lamps = readLamps(out / "loopback.jsonl");
  EXPECT_EQ(lamps.bad, 0);
  EXPECT_EQ(lamps.summary["bad_frames"], 0);
  std::map<std::string, std::string> protocols;
  for (const json& lamp : lamps.summary["lamps"]) {
    SCOPED_TRACE(lamp["lamp"].get<std::string>());
    protocols[lamp["lamp"]] = lamp["protocol"];
    if (lamp["protocol"] == "lf") {
      EXPECT_EQ(lamp["gaps"], 0) << "a frame sent was lost";
      EXPECT_EQ(lamp["reordered"], 0);
    } else {
      // Every tick's packets set every LED: the 600-LED strip's two DNRGB
      // packets arrive whole and together.
      EXPECT_EQ(lamp["incomplete_rounds"], 0);
      EXPECT_GE(lamp["rounds"].get<int>(), 10);
      EXPECT_EQ(lamp["frames"].get<int>(), lamp["rounds"].get<int>() * (lamp["leds"].get<int>() > 490 ? 2 : 1));
    }
  }
  EXPECT_EQ(protocols, (std::map<std::string, std::string>{{"desk", "lf"}, {"shelf", "wled"}, {"strip", "wled"}}));

  // The colours follow the library's red, green, blue cycle on every lamp.
  const std::vector<std::string> cycle = {"ff0000", "00ff00", "0000ff"};
  for (const char* name : {"desk", "shelf", "strip"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(lamps.frames.count(name));
    const std::vector<std::string> shown = changes(lamps.frames.at(name));
    ASSERT_GE(shown.size(), 2u);
    for (std::size_t k = 1; k < shown.size(); ++k) {
      const auto previous = std::find(cycle.begin(), cycle.end(), shown[k - 1]);
      ASSERT_NE(previous, cycle.end()) << shown[k - 1];
      EXPECT_EQ(shown[k], cycle[(previous - cycle.begin() + 1) % cycle.size()]);
    }
  }

  // A lamp switched off stops receiving; the others go on until the
  // broadcast lamp (or the end) takes over.
  const std::int64_t off = events.at("shelf off");
  const std::int64_t later = events.count("broadcast to hall") ? events.at("broadcast to hall") : events.at("stopping halvix");
  constexpr std::int64_t kSlackUs = 300000;
  EXPECT_LT(lamps.frames.at("shelf").back().receivedUs, off + kSlackUs);
  EXPECT_GT(lamps.frames.at("desk").back().receivedUs, later - kSlackUs);

  if (!events.count("broadcast to hall")) {
    EXPECT_THAT(run.out, testing::HasSubstr("broadcast lamp skipped: "));
    return;
  }
  const LampLog broadcast = readLamps(out / "broadcast.jsonl");
  EXPECT_EQ(broadcast.bad, 0);
  ASSERT_TRUE(broadcast.frames.count("hall"));
  EXPECT_GE(broadcast.frames.at("hall").size(), 10u) << "about ten a second for three seconds";
  EXPECT_EQ(broadcast.summary["lamps"][0]["protocol"], "wled");
  EXPECT_EQ(broadcast.summary["lamps"][0]["incomplete_rounds"], 0);
  EXPECT_GE(broadcast.frames.at("hall").front().receivedUs, events.at("broadcast to hall"));
}

}  // namespace
