#include "tests/support/hot_dev_app.h"

#include <filesystem>
#include <thread>

#include "sdk/app_paths.h"

namespace halvix::test {

const char* const kEchoApp = R"LUA(
local M = { ticks = 0 }
function M.initLuaApp() end
function M.onTick() M.ticks = M.ticks + 1 end
function M.forwardPlateCall(cb, packed) cb(packed) end
return M
)LUA";

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string recordingApp(const std::filesystem::path& log) {
  return "local M = {}\n"
         "function M.initLuaApp() end\n"
         "function M.onTick() end\n"
         "function M.forwardPlateCall(cb, packed)\n"
         "  local f = io.open('" + log.generic_string() + "', 'ab')\n"
         "  f:write(packed, '\\n')\n"
         "  f:close()\n"
         "  cb('\\145\\195')\n"
         "end\n"
         "return M\n";
}

void writeHotDevTree(const TempDir& root, const std::string& preloadSource) {
  std::filesystem::create_directories(root.path() / sdk::kHotDevProjectDir);
  root.write(std::string(sdk::kHotDevAppDir) + "/" + sdk::kEntryFile, preloadSource);
}

HotDevApp::HotDevApp(const std::string& preloadSource) { writeHotDevTree(dir_, preloadSource); }

std::string HotDevApp::appRoot() const { return (dir_.path() / sdk::kHotDevAppDir).string(); }

void HotDevApp::write(const std::string& relative, const std::string& content) const {
  dir_.write(std::string(sdk::kHotDevAppDir) + "/" + relative, content);
}

void Collector::add(std::string item) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_.push_back(std::move(item));
  changed_.notify_all();
}

bool Collector::waitFor(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return items_.size() >= count; });
}

std::vector<std::string> Collector::items() {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_;
}

sdk::ResultCallback recordResult(Collector& into) {
  return [&into](std::vector<msgpack::object_handle>& results) {
    if (results.size() != 2) {
      into.add("bad result count " + std::to_string(results.size()));
      return;
    }
    bool ok = results[0].get().as<bool>();
    into.add((ok ? "true:" : "false:") + results[1].get().as<std::string>());
  };
}

}  // namespace halvix::test
