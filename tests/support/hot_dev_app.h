#pragma once
// A Lua application written into a scratch developer tree, and helpers for
// waiting on results that arrive from the SDK worker thread.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <msgpack.hpp>

#include "sdk/corvel_native.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {

// Lays out a developer tree below `root`: `preloadSource` as preload.lua
// where hot-development mode looks for the application.
void writeHotDevTree(const TempDir& root, const std::string& preloadSource);

// An application that appends every packed call it gets to `log`, one a
// line, and answers [true]. It needs no MessagePack library: in
// hot-development mode only the search path has one, and Windows has none
// there.
std::string recordingApp(const std::filesystem::path& log);

// A developer tree in a scratch folder of its own.
class HotDevApp {
 public:
  explicit HotDevApp(const std::string& preloadSource);
  sdk::SdkDirectories directories() const { return {".", dir_.path().string()}; }
  std::string appRoot() const;
  void write(const std::string& relative, const std::string& content) const;

 private:
  TempDir dir_;
};

// Collects what completions deliver on other threads.
class Collector {
 public:
  void add(std::string item);
  // Waits until at least `count` items arrived (generous timeout).
  bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::vector<std::string> items();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> items_;
};

// Polls `condition` until it holds (true) or `timeout` passes (false).
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A ResultCallback that records "true:" / "false:<message>".
sdk::ResultCallback recordResult(Collector& into);

// An application whose forwardPlateCall answers the packed call back.
extern const char* const kEchoApp;

}  // namespace halvix::test
