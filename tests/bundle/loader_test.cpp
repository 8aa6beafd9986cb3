// The bundle loader as the application meets it: require and loadfile served
// from the bundle, its globals and its diagnostics.
#include <gtest/gtest.h>

#include "tests/bundle/bundle_fixture.h"

namespace halvix::test {
namespace {

using LoaderTest = BundleFixture;

TEST_F(LoaderTest, GlobalsOfTheBuiltInModules) {
  EXPECT_LUA(R"(
    eq(LuaPackMode, 'compile_bytecode')
    eq(LogLevel_None, 0) eq(LogLevel_Info, 1) eq(LogLevel_Debug, 2) eq(LogLevel, 2)
    local classes = require('make_readable').createLibClasses()
    assert(classes.PackFile and classes.LuaLib and classes.LuaLibFile)
  )");
}

TEST_F(LoaderTest, ModuleNamesMapOntoBundleEntries) {
  EXPECT_LUA(R"(
    writeBundle('ls.lsd', block{ mods = {
      { 'a/b.lua', 'return "a/b"' },
      { 'x.lua', 'return "x.lua"' },
      { 'x/lua.lua', 'return "x/lua.lua"' },
      { 'deep/er/m.lua', 'return ...' },
    } })
    setup('ls.lsd')
    eq(require('a.b'), 'a/b')
    eq(require('x.lua'), 'x.lua', 'a name ending in .lua is the entry itself')
    eq(require('a/b.lua'), 'a/b')
    eq(require('deep.er.m'), 'deep.er.m', 'the loader gets the module name')
  )");
}

TEST_F(LoaderTest, FirstBlockWins) {
  EXPECT_LUA(R"(
    writeBundle('ls.lsd',
      block{ label = 'one', mods = { { 'm.lua', 'return 1' } } },
      block{ label = 'two', mods = { { 'm.lua', 'return 2' }, { 'only2.lua', 'return 22' } } })
    local loader = setup('ls.lsd')
    eq(#loader._libList, 2)
    eq(require('m'), 1)
    eq(require('only2'), 22)
  )");
}

TEST_F(LoaderTest, RequireFallsThroughToTheOrdinarySearchers) {
  dir_.write("src/plain.lua", "return 'from the path'");
  EXPECT_LUA(R"(
    writeBundle('ls.lsd', block{ mods = { { 'inbundle.lua', 'return 1' } } })
    setup('ls.lsd')
    package.path = DIR .. '/src/?.lua;' .. package.path
    eq(require('plain'), 'from the path')
    checkerror("module 'missing' not found", require, 'missing')
  )");
}

TEST_F(LoaderTest, EmptyBundleSetsUpWithNoLibraries) {
  EXPECT_LUA(R"(
    writeBundle('ls.lsd')
    local loader = setup('ls.lsd')
    eq(#loader._libList, 0)
    eq(loader:listAll(), '')
    checkerror("module 'app' not found", require, 'app')
  )");
}

TEST_F(LoaderTest, SizeZeroModuleIsAnEmptyFunction) {
  EXPECT_LUA(R"(
    writeBundle('ls.lsd', block{ mods = { { 'empty.lua', raw = '' } } })
    local loader = setup('ls.lsd')
    eq(loader:readMod('empty.lua'), '')
    eq(require('empty'), true)
  )");
}

TEST_F(LoaderTest, BytecodeAndSourceModules) {
  EXPECT_LUA(R"(
    local src = 'local t = {...} return { name = t[1], sum = 20 + 22 }'
    local f = assert(loadstring(src))
    writeBundle('ls.lsd', block{ mods = {
      { 'src.lua', src },
      { 'bc.lua', string.dump(f) },
      { 'bcs.lua', string.dump(f, true) },
    } })
    setup('ls.lsd')
    for _, name in ipairs{ 'src', 'bc', 'bcs' } do
      local m = require(name)
      eq(m.sum, 42, name) eq(m.name, name, name)
    end
  )");
}

TEST_F(LoaderTest, BrokenModuleIsReportedAndRequireGoesOn) {
  dir_.write("src/broken.lua", "return 'the path copy'");
  std::string out = printed(R"(
    writeBundle('ls.lsd', block{ mods = { { 'broken.lua', 'return +' } } })
    setup('ls.lsd')
    package.path = DIR .. '/src/?.lua;' .. package.path
    eq(require('broken'), 'the path copy')
  )");
  EXPECT_NE(out.find("luaPrint:Lua block from compile string failed.,8,"), std::string::npos) << out;
  EXPECT_NE(out.find("luaPrint:require() failed : file ,broken,broken.lua,nil,"), std::string::npos) << out;
}

TEST_F(LoaderTest, DiagnosticsFollowLogLevel) {
  std::string loud = printed(R"(
    writeBundle('ls.lsd', block{ mods = { { 'a/b.lua', 'return 1' } } })
    setup('ls.lsd')
    require('a.b')
    pcall(require, 'nope')
  )");
  EXPECT_NE(loud.find("luaPrint:setupLoader to file succeed:" + dir_.path().string() + "/ls.lsd\n"),
            std::string::npos) << loud;
  EXPECT_NE(loud.find("luaPrint:conv require():,a.b,==>,a/b.lua,string\n"), std::string::npos) << loud;
  EXPECT_NE(loud.find("luaPrint:conv require():,nope,==>,nope.lua,nil\n"), std::string::npos) << loud;

  std::string quiet = printed(R"(
    LogLevel = LogLevel_Info
    writeBundle('other.lsd', block{ mods = { { 'c.lua', 'return +' } } })
    require('setuploader').setupLoader(DIR .. '/other.lsd')
    pcall(require, 'c')
    pcall(require, 'nope2')
    loadfile('c.lua')
  )");
  EXPECT_EQ("", quiet);
}

TEST_F(LoaderTest, GlobalPrintersAreUsedWhenPresentAtLoad) {
  // Preload the built-in modules again with the globals in place, as a host
  // that defines them first would.
  ASSERT_LUA("ErrPrint = function(...) SEEN = table.concat({ ... }, '|') end DbgPrint = function() end");
  ASSERT_TRUE(lua_->luaPreloadModules());
  EXPECT_LUA(R"(
    writeBundle('ls.lsd', block{ mods = { { 'bad.lua', 'return +' } } })
    setup('ls.lsd')
    eq(pcall(require, 'bad'), false)
    assert(SEEN and SEEN:find('require() failed : file |bad|bad.lua', 1, true), tostring(SEEN))
  )");
}

TEST_F(LoaderTest, ModulesCarryLoadstringsChunkNamesAndDecodeErrorsReachRequire) {
  dir_.write("src/scrambled.lua", "return 'the disk copy'");
  std::string out = printed(R"LUA(
    writeBundle('ls.lsd', block{ mods = {
      { 'where.lua', 'return debug.getinfo(1, "S").source' },
      { 'boom.lua', 'error("boom")' },
      { 'broken.lua', 'return +' },
      { 'scrambled.lua', raw = 'garbage!' },
    } })
    setup('ls.lsd')
    package.path = DIR .. '/src/?.lua;' .. package.path
    eq(require('where'), 'return debug.getinfo(1, "S").source')
    local ok, err = pcall(require, 'boom')
    assert(not ok and err:find('[string "error("boom")"]:1: boom', 1, true), err)
    ok, err = pcall(require, 'scrambled')
    assert(not ok and err:find('decompress failed', 1, true), 'the disk copy must not load: ' .. tostring(err))
    eq(select('#', loadfile('broken.lua')), 0)
  )LUA");
  EXPECT_NE(out.find("luaPrint:loadfile() failed : file ,broken.lua,broken.lua,nil,"), std::string::npos) << out;
}

TEST_F(LoaderTest, LoadfileReadsTheBundle) {
  dir_.write("disk.lua", "return 'disk'");
  EXPECT_LUA(R"(
    writeBundle('ls.lsd', block{ mods = { { 'cfg/x.lua', 'return "bundled", ...' } } })
    setup('ls.lsd')
    local mr = require('make_readable')
    assert(type(mr._prev_loadfile) == 'function')
    eq(loadfile('cfg/x.lua')(), 'bundled')
    eq(select('#', loadfile('cfg/none.lua')), 0, 'nothing read gives nothing')

    VAR_PACKED_LUA_PREFIX = 'app'
    eq(loadfile('app/cfg/x.lua')(), 'bundled')
    eq(loadfile(DIR .. '/disk.lua')(), 'disk', 'other names go to the previous loadfile')
    eq(select('#', loadfile('app/none.lua')), 0)
    VAR_PACKED_LUA_PREFIX = nil
  )");
}

TEST_F(LoaderTest, Base64Mode) {
  EXPECT_LUA(R"(
    local b64 = require('mime.core').b64
    writeBundle('ls.lsd', block{ mods = {
      { 'm.lua', (b64('return 64')) },
      { 'e.lua', '' },
      { 'n.lua', 'return 1' },
    } })
    setup('ls.lsd')
    LuaPackMode = 'b64'
    eq(require('m'), 64)
    eq(require('e'), true)
    LuaPackMode = 'other'
    checkerror('bad LuaPackMode', require, 'n')
  )");
}

TEST_F(LoaderTest, DescriptionsListEveryModule) {
  EXPECT_LUA(R"(
    writeBundle('ls.lsd',
      block{ label = 'first', mods = { { 'b.lua', 'x' }, { 'a/c.lua', 'y' } } },
      block{ label = 'second', mods = { { 'z.lua', 'z' } } })
    local loader = setup('ls.lsd')
    eq(loader:listAll(),
       'Index 1: \nLuaPath:first\na/c.lua,b.lua,\nTotal count:2\n' ..
       'Index 2: \nLuaPath:second\nz.lua,\nTotal count:1\n')
    loader:close()
    eq(loader:readMod('b.lua'), nil, 'a closed loader reads nothing')
  )");
}

}  // namespace
}  // namespace halvix::test
