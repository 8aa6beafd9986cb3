#include <sys/wait.h>

#include <cstdio>

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
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("initSDK: false initSDK failed: checkAssets failed, App maybe incompleted.\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("ticks: 0\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace halvix::test
