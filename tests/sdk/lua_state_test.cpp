#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/console.h"
#include "sdk/corvel_native_impl.h"
#include "sdk/globals.h"
#include "sdk/sdk_log.h"
#include "tests/support/lua_fixture.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

using LuaStateTest = LuaFixture;

TEST_F(LuaStateTest, PrintTakesOneStringArgument) {
  testing::internal::CaptureStdout();
  EXPECT_LUA("print('a', 'b') print(42) print() print(nil) print({})");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "luaPrint:a\n"
            "luaPrint:type error: only support string, got number\n"
            "luaPrint:type error: only support string, got no value\n"
            "luaPrint:type error: only support string, got nil\n"
            "luaPrint:type error: only support string, got table\n");
}

TEST_F(LuaStateTest, LongLinesAreCutTo4095Bytes) {
  testing::internal::CaptureStdout();
  EXPECT_LUA("print(string.rep('x', 5000))");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "luaPrint:" + std::string(4095 - 9, 'x'));
}

TEST_F(LuaStateTest, LogTextIsNotReinterpreted) {
  testing::internal::CaptureStdout();
  EXPECT_LUA("print('100%s %d %n')");
  sdk::sdkLog(49, "dropped\n");
  sdk::sdkLog(50, "kept %d\n", 7);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "luaPrint:100%s %d %n\nkept 7\n");
}

TEST_F(LuaStateTest, AfterRegistrationTheLogGoesToTheConsoleOnly) {
  sdk::setPluginRegistered(true);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  platform::setConsolePresent(false);
  EXPECT_LUA("print('lost without a console')");
  platform::setConsolePresent(true);
  EXPECT_LUA("print('to the console')");
  platform::setConsolePresent(false);
  sdk::setPluginRegistered(false);
#ifdef _WIN32
  // There the console is a device of its own, never a redirected stream.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
#else
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "luaPrint:to the console\n");
#endif
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(LuaStateTest, TwoThreadsLogWholeLines) {
  testing::internal::CaptureStdout();
  auto writer = [](char c) {
    for (int i = 0; i < 200; ++i) sdk::sdkLog(100, "%s\n", std::string(300, c).c_str());
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  std::istringstream out(testing::internal::GetCapturedStdout());
  int lines = 0;
  for (std::string line; std::getline(out, line); ++lines) {
    ASSERT_TRUE(line == std::string(300, 'a') || line == std::string(300, 'b')) << line.substr(0, 40);
  }
  EXPECT_EQ(lines, 400);
}

TEST_F(LuaStateTest, RegisteredModulesAndGlobals) {
  EXPECT_LUA(R"(
    for _, name in ipairs({'lpeg', 'md5.core', 'bit', 'cjson', 'lfs', 'socket.core', 'mime.core', 'zlib',
                           'luasql.sqlite3'}) do
      assert(package.loaded[name] ~= nil, name .. ' not loaded')
    end
    assert(package.loaded.socket == nil and package.loaded.mime == nil)
    assert(package.loaded['socket.core'] == socket and package.loaded['mime.core'] == mime)
    assert(package.loaded.zlib == zlib and zlib._VERSION == 'lzlib 0.4-work2')
    assert(package.loaded['luasql.sqlite3'] == luasql)
    assert(require('bit').band(0xff, 0x0f) == 15)
    assert(require('cjson').encode({1, 2}) == '[1,2]')
    -- the Lua halves of LuaSocket and MIME load over the host's cores
    assert(require('socket').tcp and require('mime').b64('a') == 'YQ==')
    eq(VAR_OSTypeName, 'windows') eq(VAR_IS_HOTDEV, false) eq(VAR_DOC_ROOT, '.') eq(VAR_LOG_LEVEL, 10)
    assert(VAR_LUA_ROOT == nil and VAR_LUA_LOGROOT == nil)
  )");
}

// md5 and LuaSQL answer alike on every system: Debian's modules on Linux,
// our own on Windows (the answers are Debian's).
TEST_F(LuaStateTest, Md5AndLuaSqlAnswerAsDebiansModules) {
  ASSERT_LUA(R"LUA(
    md5 = require('md5.core')
    db = luasql.sqlite3():connect(':memory:')
    db:execute('create table t(id integer primary key, name text, big integer, ratio real, data blob)')
    db:execute("insert into t(name, big, ratio, data) values('it''s', 3000000000, 0.5, x'00ff')")
    db:execute('insert into t(name) values(NULL)')
  )LUA");
  const struct {
    const char* expression;
    const char* expected;
  } answers[] = {
      {"hex(md5.sum(''))", "d41d8cd98f00b204e9800998ecf8427e"},
      {"hex(md5.sum('message digest'))", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"hex(md5.sum(string.rep('1234567890', 8)))", "57edf4a22be3c955ac49da2e2107b67a"},
      {"hex(md5.exor('abc', '\\1\\2\\3'))", "606060"},
      {"hex(md5.crypt('hello world', 'key', 'seed'))", "0473656564c78025b74eeaf25687f4ea"},
      {"md5.decrypt(unhex('0473656564c78025b74eeaf25687f4ea'), 'key')", "hello world"},
      {"md5.decrypt(md5.crypt('clock', 'key'), 'key')", "clock"},
      {"select(2, pcall(md5.crypt, 'x', 'k', string.rep('s', 17)))", "seed too long (> 16)"},
      {"luasql._VERSION", "LuaSQL 2.6.0 (for Lua 5.1)"},
      {"db:getlastautoid()", "2"},
      {"(function() local r = db:execute('select * from t where id = 1'):fetch({}, 'a')"
       " return r.name .. '|' .. r.big .. '|' .. r.ratio .. '|' .. hex(r.data) end)()",
       "it's|3000000000|0.5|00ff"},
      {"(function() local a, b = db:execute('select name, 7 from t where id = 2'):fetch()"
       " return tostring(a) .. ',' .. b end)()",
       "nil,7"},
      {"table.concat(db:execute('select * from t'):getcoltypes(), ',')", "INTEGER,TEXT,INTEGER,REAL,BLOB"},
      {"db:escape(\"it's\")", "it''s"},
      {"select(2, db:execute('selec'))", "LuaSQL: near \"selec\": syntax error"},
      {"select(2, db:commit())", "LuaSQL: cannot commit - no transaction is active"},
      {"(function() db:setautocommit(false) db:execute('delete from t') db:rollback() db:setautocommit(true)"
       " return db:execute('select count(*) from t'):fetch() end)()",
       "2"},
      {"(function() local c = db:execute('select 1') c:close() return select(2, pcall(c.fetch, c)) end)()",
       "bad argument #1 to '?' (LuaSQL: cursor is closed)"},
  };
  for (const auto& answer : answers) EXPECT_EQ(answer.expected, eval(answer.expression)) << answer.expression;
}

TEST_F(LuaStateTest, LibrariesHoldTheSameFunctions) {
  EXPECT_LUA(R"(
    for _, name in ipairs({'zpack', 'zunpack', 'float2hex', 'hex2float', 'ztab2str', 'zcrc8', 'zcrc16', 'zcrcA001',
                           'zcrc32', 'zcrypt1'}) do
      assert(type(_G[name]) == 'function' and zstr[name] == _G[name], name)
    end
    assert(package.loaded.zstr == zstr)
    local zp = require('zpack')
    local n = 0 for _ in pairs(zp) do n = n + 1 end
    assert(n == 2 and zp.zpack == zpack and zp.zunpack == zunpack)
    assert(zacc.tickstamp == zacc.timestamp and package.loaded.zacc == zacc)
    assert(require('irpacker') == irpacker and require('zsocket') == zsocket)
  )");
}

TEST_F(LuaStateTest, DoStringAndRequireModuleKeepTheStack) {
  lua_State* state = L();
  int top = lua_gettop(state);
  EXPECT_TRUE(lua_->doString("x_from_chunk = 1"));
  EXPECT_FALSE(lua_->doString("error('boom')"));
  EXPECT_FALSE(lua_->doString("this is not lua"));
  EXPECT_EQ(lua_gettop(state), top);

  lua_->requireModule("cjson");
  EXPECT_TRUE(lua_istable(state, -1));
  lua_->requireModule("no.such.module");
  EXPECT_TRUE(lua_isnil(state, -1));
  EXPECT_EQ(lua_gettop(state), top + 2);
  lua_settop(state, top);
  EXPECT_EQ(eval("__TEMP_OBJECT__"), "nil");

  EXPECT_TRUE(lua_->setPackagePath("/tmp/a\\b/?.lua"));
  EXPECT_EQ(eval("package.path:sub(1, 15)"), "/tmp/a\\b/?.lua;");
}

TEST_F(LuaStateTest, EscapedTextsComeBackWholeAndPlainPathsKeepTheirText) {
  EXPECT_EQ(sdk::escapeLuaString(".\\lsd\\ls.lsd"), ".\\\\lsd\\\\ls.lsd");
  EXPECT_EQ(sdk::escapeLuaString("/srv/app/lsd/ls.lsd"), "/srv/app/lsd/ls.lsd");
  const std::string hostile[] = {"it's", "x'); os.exit(3) --", "a\nb\rc", std::string("nul\0" "1", 5), "\x7f\x01" "9",
                                 "back\\", "\xc3\xa9\""};
  for (const std::string& text : hostile) {
    std::string chunk = "return '" + sdk::escapeLuaString(text) + "'";
    ASSERT_EQ(luaL_loadbuffer(L(), chunk.data(), chunk.size(), "t"), 0) << chunk;
    ASSERT_EQ(lua_pcall(L(), 0, 1, 0), 0);
    std::size_t size = 0;
    const char* value = lua_tolstring(L(), -1, &size);
    EXPECT_EQ(std::string(value, size), text);
    lua_pop(L(), 1);
  }
}

TEST(LuaStateStartup, BundleNamesAndRootsAreNeverRunAsCode) {
  TempDir dir;
  const std::string marker = (dir.path() / "ran").string();
  // A bundle name that would close the string and run code: the loader is
  // only asked for a file of that odd name, which does not exist.
  sdk::CorvelNativeImpl normal(10);
  sdk::StateOptions options;
  options.root = dir.path().string();
  options.bundleName = "x'); io.open('" + marker + "', 'w'):close() --";
  testing::internal::CaptureStdout();
  auto failure = normal.prepareState(options);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(*failure, "initSDK failed: setup loader failed.");
  EXPECT_FALSE(std::filesystem::exists(marker));

  // A folder with a quote in its name is an ordinary root.
  sdk::CorvelNativeImpl hotDev(10);
  sdk::StateOptions tree;
  tree.hotDev = true;
  tree.root = "/tmp/it's\n";
  ASSERT_FALSE(hotDev.prepareState(tree).has_value());
  lua_getglobal(hotDev.state(), "VAR_LUA_ROOT");
  EXPECT_STREQ(lua_tostring(hotDev.state(), -1), "/tmp/it's\n");
}

}  // namespace
}  // namespace halvix::test
