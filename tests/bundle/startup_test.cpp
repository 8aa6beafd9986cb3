// Normal-mode start-up: the built-in modules and the bundle loader inside a
// whole activation, and the preloading of blobs.
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "sdk/corvel_native.h"
#include "sdk/globals.h"
#include "tests/bundle/bundle_fixture.h"
#include "tests/support/host_process.h"

namespace halvix::test {
namespace {

using PreloadTest = BundleFixture;

TEST_F(PreloadTest, BuiltInModulesArePreloaded) {
  EXPECT_LUA(R"(
    eq(require('base.MessagePack')._VERSION, '0.5.2')
    assert(type(package.loaded['make_readable'].setupLoader) == 'function')
    assert(type(package.loaded['setuploader'].setupLoader) == 'function')
  )");
}

TEST_F(PreloadTest, BuiltInModulesArriveInOrder) {
  ASSERT_LUA(R"(
    ORDER = {}
    for _, name in ipairs{ 'base.MessagePack', 'make_readable', 'setuploader' } do package.loaded[name] = nil end
    setmetatable(package.loaded, { __newindex = function(t, k, v) ORDER[#ORDER + 1] = k rawset(t, k, v) end })
  )");
  ASSERT_TRUE(lua_->luaPreloadModules());
  EXPECT_LUA(R"(
    setmetatable(package.loaded, nil)
    eq(table.concat(ORDER, ' '), 'base.MessagePack make_readable setuploader')
  )");
}

// Blobs built in Lua (zlib.compress of name, NUL, code) and handed to
// luaPreloadBytes: failures come back as false, never as a panic.
TEST_F(PreloadTest, BrokenBlobsFailWithoutPanicking) {
  auto preload = [&](const std::string& blobExpression) {
    lua_State* state = L();
    int top = lua_gettop(state);
    std::string code = "return " + blobExpression;
    EXPECT_EQ(0, luaL_dostring(state, code.c_str()));
    std::size_t size = 0;
    const char* data = lua_tolstring(state, -1, &size);
    std::string blob(data ? data : "", size);
    lua_settop(state, top);
    testing::internal::CaptureStdout();
    bool ok = lua_->luaPreloadBytes(reinterpret_cast<const unsigned char*>(blob.data()), blob.size());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(top, lua_gettop(state));
    return std::make_pair(ok, out);
  };

  auto notZlib = preload("'plainly not a zlib stream'");
  EXPECT_FALSE(notZlib.first);
  EXPECT_NE(notZlib.second.find("luaPreloadBytes failed: call zlib.decompress() failed, msg="), std::string::npos);

  auto badCode = preload("zlib.compress('bad\\0return +')");
  EXPECT_FALSE(badCode.first);
  EXPECT_NE(badCode.second.find("luaPreloadBytes failed: call luaL_loadbuffer() failed, on bad, code=3, msg="),
            std::string::npos)
      << badCode.second;

  auto good = preload("zlib.compress('good.mod\\0return { answer = 42 }')");
  EXPECT_TRUE(good.first);
  EXPECT_EQ("42", eval("require('good.mod').answer"));
  EXPECT_EQ("nil", eval("_TEMP_PRELOAD_MOD_"));

  // A chunk that raises leaves its error value as the module.
  auto raising = preload("zlib.compress('raising\\0error(\"boom\", 0)')");
  EXPECT_TRUE(raising.first);
  EXPECT_EQ("boom", eval("package.loaded['raising']"));
}

class NormalModeTest : public testing::Test {
 protected:
  void SetUp() override { sdk::setHotDevMode(false); }

  std::string start(sdk::CorvelNative& native, const std::string& lsdName = "") {
    auto promise = std::make_shared<std::promise<std::string>>();
    auto future = promise->get_future();
    native.initSDK(
        [promise](std::vector<msgpack::object_handle>& results) {
          promise->set_value((results[0].get().as<bool>() ? "true:" : "false:") + results[1].get().as<std::string>());
        },
        10, lsdName);
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return "timeout";
    return future.get();
  }

  // Packs `source` into dir_/lsd/<name> with the host's writer.
  void pack(const std::string& source, const std::string& name = "ls.lsd") {
    std::filesystem::create_directories(dir_.path() / "lsd");
    ProcessOutcome packed = runToEnd(std::string(HALVIX_BIN_DIR) + "/lsdpack",
                                     {"-o", (dir_.path() / "lsd" / name).string(), source}, logs_.path());
    ASSERT_EQ(0, packed.exitCode) << packed.err;
  }

  TempDir dir_;
  TempDir logs_;
};

TEST_F(NormalModeTest, ActivationStartsFromTheBundle) {
  dir_.write("app/preload.lua",
             "local M = {}\n"
             "function M.initLuaApp()\n"
             "  STARTED = { hot = VAR_IS_HOTDEV, mp = package.loaded['base.MessagePack'] ~= nil,\n"
             "              root = VAR_LUA_ROOT, helper = require('util.helper') }\n"
             "end\n"
             "function M.onTick() end\n"
             "function M.forwardPlateCall(cb, packed) cb(packed) end\n"
             "return M\n");
  dir_.write("app/util/helper.lua", "return 'helped'");
  pack((dir_.path() / "app").string());
  sdk::CorvelNative native(sdk::SdkDirectories{dir_.path().string(), "/"});
  testing::internal::CaptureStdout();
  std::string result = start(native);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("true:", result) << out;
  EXPECT_NE(out.find("luaPrint:setupLoader to file succeed:" + dir_.path().string() + "/lsd/ls.lsd\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("luaPrint:conv require():,util.helper,==>,util/helper.lua,string\n"), std::string::npos) << out;

  auto echoed = std::make_shared<std::promise<std::string>>();
  native.forwardPlateCall([echoed](const std::vector<std::string>& answers) { echoed->set_value(answers.front()); },
                          std::string("\x91\x01", 2));
  auto future = echoed->get_future();
  ASSERT_EQ(std::future_status::ready, future.wait_for(std::chrono::seconds(30)));
  EXPECT_EQ(std::string("\x91\x01", 2), future.get());
  native.unInitSDK();
}

TEST_F(NormalModeTest, OtherBundleNameIsLoaded) {
  dir_.write("a/preload.lua", "return { initLuaApp = function() print('from a') end }");
  dir_.write("b/preload.lua", "return { initLuaApp = function() print('from b') end }");
  pack((dir_.path() / "a").string());
  pack((dir_.path() / "b").string(), "b.lsd");
  sdk::CorvelNative native(sdk::SdkDirectories{dir_.path().string(), "/"});
  testing::internal::CaptureStdout();
  std::string result = start(native, "b.lsd");
  native.unInitSDK();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("true:", result);
  EXPECT_NE(out.find("luaPrint:from b\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("from a"), std::string::npos) << out;
}

TEST_F(NormalModeTest, UnreadableBundleFailsTheSetup) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"just a length", std::string("\0\0\0\x10", 4)},
      {"garbage header", std::string("\0\0\0\x04zzzz", 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.write("lsd/ls.lsd", c.bytes);
    sdk::CorvelNative native(sdk::SdkDirectories{dir_.path().string(), "/"});
    testing::internal::CaptureStdout();
    std::string result = start(native);
    native.unInitSDK();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string("false:") + sdk::kSetupLoaderFailed, result);
  }

  // A bundle that names no readable block still sets up; the missing
  // application is then the start-up's problem, reported by its own chunk.
  dir_.write("lsd/ls.lsd", "");
  sdk::CorvelNative native(sdk::SdkDirectories{dir_.path().string(), "/"});
  testing::internal::CaptureStdout();
  std::string result = start(native);
  native.unInitSDK();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("true:", result);
  EXPECT_NE(out.find("luaPrint:initLuaApp ERROR:"), std::string::npos) << out;
}

}  // namespace
}  // namespace halvix::test
