// zacc's publication, id_cmpsub, unlink and setfdcloexec.
#include <filesystem>

#include "tests/support/lua_fixture.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

using ZaccMisc = LuaFixture;

TEST_F(ZaccMisc, PublishedAsOneTable) {
  EXPECT_LUA(R"(
    eq(type(zacc), 'table')
    eq(package.loaded.zacc, zacc, 'loaded entry')
    eq(require('zacc'), zacc, 'require')
    local names = {'float2bin', 'bin2float', 'num2str', 'id_cmpsub', 'gettime2', 'timestamp',
                   'timems', 'tmzone', 'tickstamp', 'ToBin64', 'FromBin64', 'unlink', 'setfdcloexec'}
    local n = 0
    for k, v in pairs(zacc) do n = n + 1; eq(type(v), 'function', k) end
    eq(n, #names, 'number of fields')
    for _, name in ipairs(names) do
      eq(type(zacc[name]), 'function', name)
      eq(rawget(_G, name), nil, name .. ' is not a global')
    end
  )");
}

TEST_F(ZaccMisc, IdCmpSubOrdering) {
  EXPECT_LUA(R"(
    local cases = {
      {'a', 'a', false}, {'a/b', 'ab', false}, {'ab', 'a/b', true}, {'a/b', 'a/c', true},
      {'a/', 'a/b', true}, {'', 'a', true}, {'a/c', 'a/b', false}, {'a-b', 'a/b', true},
      {'x/ab', 'x/abc', true}, {'x/abc', 'x/ab', false}, {'a', '', false}, {'', '', false},
      {'a/\1', 'a/b', true}, {'a/b/c', 'a/bc/', true}, {'a\255', 'a\128', false},
      {'b/a', 'a/b', false}, {'\0', '/', true}, {'/', '\0', false}, {'a/', 'a\0', false},
      -- The separator ranks as a zero byte: these two are neither before the other.
      {'a/\0', 'a\0/', false}, {'a\0/', 'a/\0', false},
    }
    for _, c in ipairs(cases) do
      eq(zacc.id_cmpsub(c[1], c[2]), c[3], 'id_cmpsub(' .. hex(c[1]) .. ', ' .. hex(c[2]) .. ')')
    end
    local ids = {'z', 'a/b/c', 'a/b', 'b', 'a/a', 'a', 'a/ab', 'a/b/a', 'a-b', 'a/'}
    table.sort(ids, zacc.id_cmpsub)
    eq(table.concat(ids, ' '), 'a a-b b z a/ a/a a/ab a/b a/b/a a/b/c', 'sorted')
    checkerror('bad argument #2', zacc.id_cmpsub, 'a')
    checkerror('bad argument #1', zacc.id_cmpsub, {}, 'a')
  )");
}

TEST_F(ZaccMisc, UnlinkReportsTheOutcome) {
  TempDir dir;
  const auto file = dir.write("victim.txt", "x");
  lua_pushstring(L(), file.string().c_str());
  lua_setglobal(L(), "victim");
  lua_pushstring(L(), dir.path().string().c_str());
  lua_setglobal(L(), "folder");
  EXPECT_LUA(R"(
    eq(zacc.unlink(victim), 0, 'removed')
    eq(zacc.unlink(victim), -1, 'already gone')
    eq(zacc.unlink(''), -1, 'empty path')
    eq(zacc.unlink(folder), -1, 'a folder is not removed')
    checkerror('bad argument #1', zacc.unlink)
  )");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(std::filesystem::exists(dir.path()));
}

TEST_F(ZaccMisc, SetFdCloexecReturnsNothing) {
  EXPECT_LUA(R"(
    eq(select('#', zacc.setfdcloexec(3)), 0, 'with a descriptor')
    eq(select('#', zacc.setfdcloexec()), 0, 'without arguments')
  )");
}

}  // namespace
}  // namespace halvix::test
