#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun runTool(const std::string& arguments) {
  std::string command = std::string(HALVIX_BIN_DIR) + "/corvel-lua " + arguments + " 2>&1";
  ToolRun run;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  return run;
}

TEST(CorvelLuaTest, ScriptGetsArgAndTheHostState) {
  TempDir dir;
  auto script = dir.write("s.lua", R"(
    local n = select('#', ...)
    print(table.concat({arg[0]:match('[^/]*$'), arg[1], arg[2], tostring(n), tostring(VAR_IS_HOTDEV),
                        type(package.loaded['socket.core'])}, ','))
  )");
  ToolRun run = runTool(script.string() + " one two");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "luaPrint:s.lua,one,two,2,false,table\n");
}

TEST(CorvelLuaTest, ScriptErrorsExitWithOneAndATraceback) {
  TempDir dir;
  auto script = dir.write("bad.lua", "local function f() error('broken here') end\nf()\n");
  ToolRun run = runTool(script.string());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("bad.lua:1: broken here"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("stack traceback:"), std::string::npos) << run.out;

  ToolRun missing = runTool((dir.path() / "missing.lua").string());
  EXPECT_EQ(missing.status, 1);
  ToolRun usage = runTool("--app");
  EXPECT_EQ(usage.status, 1);
}

TEST(CorvelLuaTest, AppRunsTheHelloExample) {
  // ["api.hello.add", 2, 40], then a call to a path that does not exist
  ToolRun run = runTool("--app " + std::string(HALVIX_SOURCE_DIR) +
                    "/examples/hello --seconds 0.5 --call 93ad6170692e68656c6c6f2e6164640228"
                    " --call 91ae6170692e68656c6c6f2e6e6f7065");
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
  ToolRun run = runTool("--app " + dir.path().string() + " --seconds 0");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("initSDK: false initSDK failed: checkAssets failed, App maybe incompleted.\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("ticks: 0\n"), std::string::npos) << run.out;
}

// Starts corvel-lua with TMPDIR pointing into `tmp`, waits for `ready` in its
// output, optionally sends SIGTERM, and returns its exit status (-1 if it
// had to be killed after a generous time).
int runAndMaybeTerminate(const std::vector<std::string>& args, const std::filesystem::path& tmp, bool terminate,
                         bool leavesStateOpen, std::string& out) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::string binary = std::string(HALVIX_BIN_DIR) + "/corvel-lua";
  std::vector<char*> argv{binary.data()};
  std::vector<std::string> own = args;
  for (std::string& a : own) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string tmpdir = "TMPDIR=" + tmp.string();
  // os.exit leaves the Lua state unclosed by design: its memory is not a leak
  // for the sanitizer tree to report.
  std::string asan = leavesStateOpen ? "ASAN_OPTIONS=detect_leaks=0" : "ASAN_OPTIONS=detect_leaks=1";
  char* envp[] = {tmpdir.data(), asan.data(), nullptr};
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    return -1;
  }
  char buffer[4096];
  bool signalled = false;
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    out.append(buffer, static_cast<std::size_t>(n));
    if (terminate && !signalled && out.find("initSDK: true\n") != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      kill(pid, SIGTERM);
      signalled = true;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
