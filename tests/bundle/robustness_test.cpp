// Corrupt bundles: every one fails with its diagnostic, never crashes, loops
// or asks for the memory a bogus size names.
#include <cctype>
#include <ostream>

#include <gtest/gtest.h>

#include "tests/bundle/bundle_fixture.h"

namespace halvix::test {
namespace {

struct CorruptCase {
  const char* name;
  const char* bundle;       // Lua expression: the bundle's bytes
  const char* setupError;   // "" when the setup must succeed
  int libraries;            // libraries read when the setup succeeds
  const char* diagnostic;   // printed text expected ("" for none required)
  const char* missing;      // a module that must then fail to load ("" for none)
  const char* requireError = "not found";  // what its require raises
};

const CorruptCase kCases[] = {
    {"length prefix cut short", "'\\0\\0'", "", 0, "", ""},
    {"prefix cut after a good block", "block{ mods = { { 'm.lua', 'return 1' } } } .. '\\0\\0\\1'", "", 1, "", ""},
    {"file ends right after the length", "be32(20)", "Not enough header byte to read, size is 20, got 0", 0, "", ""},
    {"header cut short", "be32(100) .. ('x'):rep(10)", "", 0, "luaPrint:Not enough header byte to read, size is ,100,10",
     ""},
    {"header length near 4 GiB", "'\\255\\255\\255\\255' .. ('x'):rep(64)", "", 0,
     "luaPrint:Not enough header byte to read, size is ,4294967295,64", ""},
    {"zero header length", "be32(0) .. 'abc'", "missing bytes", 0, "", ""},
    {"header does not decompress", "block{ rawHeader = zcrypt1('FernQuill_fqx4', 'not zlib at all') }", "decompress failed", 0,
     "", ""},
    {"header not scrambled", "block{ rawHeader = zlib.compress(MessagePack.pack({ 'lib1', 'p', 0, {} })) }",
     "decompress failed", 0, "", ""},
    {"header does not decode", "block{ rawHeader = enc('\\193\\193') }", "is unimplemented", 0, "", ""},
    {"header with extra bytes", "block{ rawHeader = enc(MessagePack.pack({ 'lib1', 'p', 0, {} }) .. 'z') }",
     "extra bytes", 0, "", ""},
    {"header inflates past 8 MiB", "block{ rawHeader = enc(('\\0'):rep(8 * 1024 * 1024 + 1)) }", "header too large", 0, "",
     ""},
    {"wrong tag", "block{ tag = 'lib2' }", "bad fileInfo", 0, "luaPrint:fileInfo=,table:", ""},
    {"header is a number", "block{ header = 42 }", "bad fileInfo", 0, "luaPrint:fileInfo=,42", ""},
    {"header is an empty array", "block{ header = {} }", "bad fileInfo", 0, "", ""},
    {"module list is a string", "block{ modList = 'nope' }", "bad fileInfo", 0, "", ""},
    {"module list missing", "block{ header = { 'lib1', 'p', 0 } }", "bad fileInfo", 0, "", ""},
    {"negative luaSize", "block{ luaSize = -8 }", "bad fileInfo", 0, "", ""},
    {"fractional luaSize", "block{ luaSize = 1.5 }", "bad fileInfo", 0, "", ""},
    {"huge luaSize", "block{ luaSize = 2^60 }", "bad fileInfo", 0, "", ""},
    {"luaSize past the end", "block{ luaSize = 2^40, mods = { { 'm.lua', 'return 1' } } } .. block{}", "", 1, "", ""},
    {"module offset past the end", "block{ modList = { ['m.lua'] = { 1000, 4 } } }", "", 1,
     "luaPrint:No enough bytes to read:,0,4", "m"},
    {"module size past the end", "block{ mods = { { 'm.lua', 'return 1' } }, modList = { ['m.lua'] = { 0, 2^50 } } }",
     "", 1, "luaPrint:No enough bytes to read:,", "m"},
    // The position printed is the module area's start plus the offset.
    {"negative module offset", "block{ modList = { ['m.lua'] = { -2^40, 4 } } }", "", 1,
     "luaPrint:set to offset failed:,-10995116277", "m"},
    // An offset that lands inside the header reads bytes that do not decode.
    {"module offset into the header", "block{ modList = { ['m.lua'] = { -10, 4 } } }", "", 1, "", "m",
     "decompress failed"},
    {"huge module offset", "block{ modList = { ['m.lua'] = { 2^62, 4 } } }", "", 1, "luaPrint:set to offset failed:", "m"},
    {"negative module size", "block{ mods = { { 'm.lua', 'return 1' } }, modList = { ['m.lua'] = { 0, -1 } } }", "", 1,
     "luaPrint:No enough bytes to read:,0,-1", "m"},
    {"module entry not an array", "block{ modList = { ['m.lua'] = 'x' } }", "", 1, "", "m"},
    {"module entry with strings", "block{ modList = { ['m.lua'] = { 'a', 'b' } } }", "", 1,
     "luaPrint:set to offset failed:", "m"},
    {"module bytes do not decode", "block{ mods = { { 'm.lua', raw = 'garbage!' } } }", "", 1, "", "m",
     "decompress failed"},
    {"non-string module names", "block{ modList = { { 0, 1 }, [true] = { 0, 1 } } }", "", 1, "", ""},
};

void PrintTo(const CorruptCase& c, std::ostream* os) { *os << c.name; }

class CorruptBundleTest : public BundleFixture, public testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptBundleTest, FailsCleanly) {
  const CorruptCase& c = GetParam();
  std::string code = std::string("writeBundle('ls.lsd', ") + c.bundle + ")\n" +
                     "local ok, res = pcall(setup, 'ls.lsd')\n"
                     "local want = [==[" + c.setupError + "]==]\n"
                     "if want ~= '' then\n"
                     "  assert(not ok, 'the setup succeeded')\n"
                     "  assert(tostring(res):find(want, 1, true), 'error: ' .. tostring(res))\n"
                     "else\n"
                     "  assert(ok, 'the setup failed: ' .. tostring(res))\n"
                     "  eq(#res._libList, " + std::to_string(c.libraries) + ", 'libraries')\n"
                     "  res:listAll()\n"
                     "  local missing = [==[" + c.missing + "]==]\n"
                     "  if missing ~= '' then\n"
                     "    local found, err = pcall(require, missing)\n"
                     "    assert(not found and err:find([==[" + c.requireError + "]==], 1, true), tostring(err))\n"
                     "  end\n"
                     "end\n";
  std::string out = printed(code);
  EXPECT_NE(out.find(c.diagnostic), std::string::npos) << c.name << "\n" << out;
}

INSTANTIATE_TEST_SUITE_P(Bundles, CorruptBundleTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CorruptCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST_F(BundleFixture, MissingBundleFailsTheSetup) {
  std::string out = printed(R"(
    local ok, err = pcall(setup, 'absent.lsd')
    eq(ok, false)
    eq(err, 'load from file failed:' .. DIR .. '/absent.lsd')
  )");
  EXPECT_NE(out.find("luaPrint:Open file for read failed:," + dir_.path().string() + "/absent.lsd"), std::string::npos)
      << out;
}

TEST_F(BundleFixture, DirectoryIsNoBundle) {
  EXPECT_LUA(R"(
    local ok, err = pcall(setup, '')
    eq(ok, false)
    eq(err, 'load from file failed:' .. DIR .. '/')
  )");
}

TEST_F(BundleFixture, ReaderClosesTheFileWhenAHeaderRaises) {
  // Many failed setups must not pile up open files.
  EXPECT_LUA(R"(
    writeBundle('bad.lsd', block{ tag = 'nope' })
    local PackFile = require('make_readable').PackFile
    for i = 1, 3000 do assert(not pcall(PackFile.readLuaLibs, DIR .. '/bad.lsd')) end
    local f = assert(io.open(DIR .. '/bad.lsd', 'rb'))
    f:close()
  )");
}

}  // namespace
}  // namespace halvix::test
