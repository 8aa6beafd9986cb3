// lsdpack and corvel-lua --bundle as their users run them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

using Args = std::vector<std::string>;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class ToolsTest : public testing::Test {
 protected:
  // lsdpack writes bytes as they are; corvel-lua's log is text, with the
  // system's line ends.
  Outcome run(const std::string& tool, const Args& args) {
    ProcessOutcome ended = runToEnd(std::string(HALVIX_BIN_DIR) + "/" + tool, args, logs_.path());
    return {ended.exitCode, tool == "corvel-lua" ? textLines(ended.out) : ended.out, ended.err};
  }
  std::string path(const std::string& relative) const { return (dir_.path() / relative).string(); }

  TempDir dir_;
  TempDir logs_;
};

TEST_F(ToolsTest, PackListAndExtract) {
  dir_.write("one/preload.lua", "return {}");
  dir_.write("one/a/b.lua", "return 'one'");
  dir_.write("one/notes.txt", "not a module");
  dir_.write("two/a/b.lua", "return 'two'");
  dir_.write("two/c.lua", "return 'c'");
  Outcome packed = run("lsdpack", {"-o", path("out.lsd"), "--label", "app", path("one"), path("two")});
  ASSERT_EQ(0, packed.status) << packed.err;
  EXPECT_EQ(path("out.lsd") + ": 2 block(s), 3 module(s)\n", packed.out);

  Outcome listed = run("lsdpack", {"--list", path("out.lsd")});
  ASSERT_EQ(0, listed.status) << listed.err;
  EXPECT_EQ(
      "Index 1: \nLuaPath:app\na/b.lua,preload.lua,\nTotal count:2\n"
      "Index 2: \nLuaPath:app\na/b.lua,c.lua,\nTotal count:2\n",
      listed.out);

  Outcome first = run("lsdpack", {"--extract", path("out.lsd"), "a/b.lua"});
  EXPECT_EQ(0, first.status);
  EXPECT_EQ("return 'one'", first.out) << "the first block wins";
  Outcome byModuleName = run("lsdpack", {"--extract", path("out.lsd"), "c"});
  EXPECT_EQ("return 'c'", byModuleName.out);
  Outcome missing = run("lsdpack", {"--extract", path("out.lsd"), "nope.lua"});
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(missing.err.find("no module 'nope.lua'"), std::string::npos) << missing.err;
}

TEST_F(ToolsTest, BytecodeBundlesRunInTheHost) {
  dir_.write("app/lib/m.lua", "local M = {} function M.twice(x) return 2 * x end return M");
  dir_.write("app/cfg.lua", "return 'configured'");
  dir_.write("script.lua",
             "local m = require('lib.m')\n"
             "print(tostring(m.twice(21)) .. ' ' .. loadfile('cfg.lua')() .. ' ' .. tostring(VAR_IS_HOTDEV))\n");
  for (const Args& flags : {Args{}, Args{"--bytecode"}, Args{"--bytecode", "--strip"}}) {
    SCOPED_TRACE(flags.size());
    Args packArgs = flags;
    packArgs.insert(packArgs.end(), {"-o", path("ls.lsd"), path("app")});
    Outcome packed = run("lsdpack", packArgs);
    ASSERT_EQ(0, packed.status) << packed.err;
    Outcome code = run("lsdpack", {"--extract", path("ls.lsd"), "lib/m.lua"});
    EXPECT_EQ(flags.empty(), code.out.rfind("local M", 0) == 0);
    EXPECT_EQ(!flags.empty(), code.out.rfind("\x1bLJ", 0) == 0);

    Outcome script = run("corvel-lua", {"--bundle", path("ls.lsd"), path("script.lua")});
    EXPECT_EQ(0, script.status) << script.err;
    EXPECT_NE(script.out.find("luaPrint:42 configured false\n"), std::string::npos) << script.out;
  }
}

TEST_F(ToolsTest, RefusesWhatCannotWork) {
  dir_.write("empty/readme.txt", "no modules");
  dir_.write("badname/x.lua.lua", "return 1");
  dir_.write("good/m.lua", "return 1");
  dir_.write("broken/m.lua", "return +");
  dir_.write("afile.lua", "return 1");
  struct Refusal {
    Args args;
    const char* message;
  };
  const Refusal refusals[] = {
      {{"-o", path("o.lsd"), path("empty")}, "no .lua files under"},
      {{"-o", path("o.lsd"), path("badname")}, "require could never find this module name"},
      {{"-o", path("missing/dir/o.lsd"), path("good")}, "cannot write"},
      {{"-o", path("o.lsd"), path("nosuchdir")}, "is not a directory"},
      {{"-o", path("o.lsd"), path("afile.lua")}, "is not a directory"},
      {{"--bytecode", "-o", path("o.lsd"), path("broken")}, "m.lua"},
      {{"--strip", "-o", path("o.lsd"), path("good")}, "--strip needs --bytecode"},
      {{"--frobnicate", path("good")}, "unknown option"},
      {{"-o"}, "needs a value"},
      {{}, "no directory given"},
      {{"--list", path("nosuch.lsd")}, "cannot open bundle"},
      {{"--list"}, "usage"},
  };
  for (const Refusal& r : refusals) {
    Outcome outcome = run("lsdpack", r.args);
    SCOPED_TRACE(r.message);
    EXPECT_EQ(1, outcome.status);
    EXPECT_NE(outcome.err.find(r.message), std::string::npos) << outcome.err;
  }
  EXPECT_FALSE(std::filesystem::exists(path("o.lsd")));
}

TEST_F(ToolsTest, ListMeetsCorruptBundles) {
  dir_.write("good/m.lua", "return 1");
  ASSERT_EQ(0, run("lsdpack", {"-o", path("ls.lsd"), path("good")}).status);
  std::string bundle = readWholeFile(path("ls.lsd"));

  dir_.write("truncated.lsd", bundle.substr(0, 10));
  Outcome truncated = run("lsdpack", {"--list", path("truncated.lsd")});
  EXPECT_EQ(1, truncated.status);
  EXPECT_EQ("", truncated.out);
  EXPECT_NE(truncated.err.find("Not enough header byte to read, size is "), std::string::npos) << truncated.err;
  EXPECT_NE(truncated.err.find("is damaged"), std::string::npos) << truncated.err;

  std::string flipped = bundle;
  flipped[6] = static_cast<char>(flipped[6] ^ 0x55);
  dir_.write("flipped.lsd", flipped);
  Outcome corrupt = run("lsdpack", {"--list", path("flipped.lsd")});
  EXPECT_EQ(1, corrupt.status);
  EXPECT_NE(corrupt.err.find("cannot read bundle"), std::string::npos) << corrupt.err;

  dir_.write("prefix.lsd", bundle.substr(0, 4));
  EXPECT_EQ(1, run("lsdpack", {"--list", path("prefix.lsd")}).status);
}

TEST_F(ToolsTest, HelloAnswersACallFromItsBundle) {
  Outcome packed = run("lsdpack", {"-o", path("ls.lsd"), HALVIX_SOURCE_DIR "/examples/hello"});
  ASSERT_EQ(0, packed.status) << packed.err;
  // ["api.hello.add", 2, 40] answers [true, 42].
  Outcome activation =
      run("corvel-lua", {"--bundle", path("ls.lsd"), "--seconds", "0.3", "--call", "93ad6170692e68656c6c6f2e6164640228"});
  EXPECT_EQ(0, activation.status) << activation.err;
  EXPECT_NE(activation.out.find("luaPrint:conv require():,preload,==>,preload.lua,string\n"), std::string::npos);
  EXPECT_NE(activation.out.find("luaPrint:hello: initLuaApp, hot development false\n"), std::string::npos);
  EXPECT_NE(activation.out.find("initSDK: true\n"), std::string::npos) << activation.out;
  EXPECT_NE(activation.out.find("answer: 92c32a\n"), std::string::npos) << activation.out;
}

TEST_F(ToolsTest, ActivationFailuresAreReported) {
  dir_.write("bad/ls.lsd", std::string("\0\0\0\5hello", 9));
  Outcome corrupt = run("corvel-lua", {"--bundle", path("bad/ls.lsd"), "--seconds", "0"});
  EXPECT_NE(corrupt.out.find("initSDK: false initSDK failed: setup loader failed.\n"), std::string::npos)
      << corrupt.out;
  EXPECT_EQ(1, corrupt.status);

  // A bundle of any name runs: the tool shows it to the SDK as "ls.lsd".
  dir_.write("app/preload.lua", "return { initLuaApp = function() end }");
  dir_.write("other/readme.txt", "");
  ASSERT_EQ(0, run("lsdpack", {"-o", path("other/app.lsd"), path("app")}).status);
  Outcome named = run("corvel-lua", {"--bundle", path("other/app.lsd"), "--seconds", "0"});
  EXPECT_NE(named.out.find("initSDK: true\n"), std::string::npos) << named.out;
  EXPECT_EQ(0, named.status);
}

}  // namespace
}  // namespace halvix::test
