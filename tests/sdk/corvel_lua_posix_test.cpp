#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

const std::string kCorvelLua = std::string(HALVIX_BIN_DIR) + "/corvel-lua";

struct ToolRun {
  int status = -1;
  std::string out;
};

// corvel-lua run to its end, its standard output and error in one text.
ToolRun runTool(const std::vector<std::string>& arguments) {
  TempDir logs;
  const std::filesystem::path output = logs.path() / "output.txt";
  const ProcessOutcome ended = HostProcess(kCorvelLua, arguments, OutputFiles{output, output}).finish(0);
  return {ended.exitCode, ended.out};
}

TEST(CorvelLuaTest, ScriptGetsArgAndTheHostState) {
  TempDir dir;
  auto script = dir.write("s.lua", R"(
    local n = select('#', ...)
    print(table.concat({arg[0]:match('[^/]*$'), arg[1], arg[2], tostring(n), tostring(VAR_IS_HOTDEV),
                        type(package.loaded['socket.core'])}, ','))
  )");
  ToolRun run = runTool({script.string(), "one", "two"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "luaPrint:s.lua,one,two,2,false,table\n");
}

TEST(CorvelLuaTest, ScriptErrorsExitWithOneAndATraceback) {
  TempDir dir;
  auto script = dir.write("bad.lua", "local function f() error('broken here') end\nf()\n");
  ToolRun run = runTool({script.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("bad.lua:1: broken here"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("stack traceback:"), std::string::npos) << run.out;

  ToolRun missing = runTool({(dir.path() / "missing.lua").string()});
  EXPECT_EQ(missing.status, 1);
  ToolRun usage = runTool({"--app"});
  EXPECT_EQ(usage.status, 1);
}

TEST(CorvelLuaTest, AppRunsTheHelloExample) {
  // ["api.hello.add", 2, 40], then a call to a path that does not exist
  ToolRun run = runTool({"--app", std::string(HALVIX_SOURCE_DIR) + "/examples/hello", "--seconds", "0.5", "--call",
                         "93ad6170692e68656c6c6f2e6164640228", "--call", "91ae6170692e68656c6c6f2e6e6f7065"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("initSDK: true\n"), std::string::npos) << run.out;
  std::size_t first = run.out.find("answer: 92c32a\n");
  std::size_t second = run.out.find("answer: 92c2da0020");
  EXPECT_NE(first, std::string::npos) << run.out;
  EXPECT_NE(second, std::string::npos) << run.out;
  EXPECT_LT(first, second);
  std::size_t ticks = run.out.find("ticks: ");
  ASSERT_NE(ticks, std::string::npos) << run.out;
  EXPECT_GT(std::stoi(run.out.substr(ticks + 7)), 10);
}

TEST(CorvelLuaTest, AppWithoutPreloadReportsTheAssetCheck) {
  TempDir dir;
  ToolRun run = runTool({"--app", dir.path().string(), "--seconds", "0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("initSDK: false initSDK failed: checkAssets failed, App maybe incompleted.\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("ticks: 0\n"), std::string::npos) << run.out;
}

// Starts corvel-lua with TMPDIR pointing into `tmp`, optionally sends
// SIGTERM once its output says "initSDK: true", and returns its exit status
// with its output in `out`.
int runAndMaybeTerminate(const std::vector<std::string>& args, const std::filesystem::path& tmp, bool terminate,
                         bool leavesStateOpen, std::string& out) {
  TempDir logs;
  const std::filesystem::path output = logs.path() / "output.txt";
  // os.exit leaves the Lua state unclosed by design: its memory is not a leak
  // for the sanitizer tree to report.
  const std::string leaks = leavesStateOpen ? "ASAN_OPTIONS=detect_leaks=0" : "ASAN_OPTIONS=detect_leaks=1";
  HostProcess tool(kCorvelLua, args, OutputFiles{output, output}, {"TMPDIR=" + tmp.string(), leaks});
  if (!tool.started()) return -1;
  while (terminate && readWholeFile(output).find("initSDK: true\n") == std::string::npos &&
         !tool.waitForExit(std::chrono::milliseconds(10))) {
  }
  if (terminate) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const ProcessOutcome ended = tool.finish(terminate ? SIGTERM : 0);
  out = ended.out;
  return ended.exitCode;
}

TEST(CorvelLuaTest, EveryExitPathLeavesNoScratchFolderBehind) {
  struct Case {
    const char* name;
    const char* preload;
    bool terminate;
    int status;
  };
  const Case cases[] = {
      {"ends normally", "return { initLuaApp = function() end }", false, 0},
      {"os.exit in the application", "return { initLuaApp = function() os.exit(3) end }", false, 3},
      // An endless loop the JIT compiles: the interrupt cannot reach it, so
      // the activation is abandoned and the tool still exits on SIGTERM.
      {"SIGTERM while stuck", "return { initLuaApp = function() end, onTick = function() while true do end end }",
       true, 128 + SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir app;
    TempDir tmp;
    app.write("preload.lua", c.preload);
    std::string out;
    int status = runAndMaybeTerminate({"--app", app.path().string(), "--seconds", c.terminate ? "60" : "0.2"},
                                      tmp.path(), c.terminate, c.status == 3, out);
    EXPECT_EQ(status, c.status) << out;
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << "scratch folder left in " << tmp.path();
  }
}

}  // namespace
}  // namespace halvix::test
