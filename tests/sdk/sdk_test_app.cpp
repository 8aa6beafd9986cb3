#include "tests/sdk/sdk_test_app.h"

#include <filesystem>

namespace halvix::test {

namespace {
constexpr const char* kAppPath = "workspace/xcorvel/corvel/luaProj/project/corvelBase";
constexpr const char* kWindowsLib = "workspace/xcorvel/corvel/windowsProj/windows_lib_corvel";
}  // namespace

const char* const kEchoApp = R"LUA(
local M = { ticks = 0 }
function M.initLuaApp() end
function M.onTick() M.ticks = M.ticks + 1 end
function M.forwardPlateCall(cb, packed) cb(packed) end
return M
)LUA";

HotDevApp::HotDevApp(const std::string& preloadSource) {
  std::filesystem::create_directories(dir_.path() / kWindowsLib);
  dir_.write(std::string(kAppPath) + "/preload.lua", preloadSource);
}

std::string HotDevApp::appRoot() const { return (dir_.path() / kAppPath).string(); }

void HotDevApp::write(const std::string& relative, const std::string& content) const {
  dir_.write(std::string(kAppPath) + "/" + relative, content);
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
