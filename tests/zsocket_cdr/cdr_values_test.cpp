// Tagged values and table bodies: golden bytes, dictionary rule, malformed
// input, depth limits and random round trips.
#include "tests/support/zsocket_lua_fixture.h"

namespace halvix::test {
namespace {

using CdrValues = ZsocketLuaFixture;

TEST_F(CdrValues, GoldenBytes) {
  EXPECT_LUA(R"(
    local cases = {
      {nil, '01'}, {true, '03'}, {false, '02'}, {0, '0400'}, {-0.0, '0400'}, {1, '0402'}, {-1, '0401'},
      {300, '04d804'}, {2147483647, '04feffffff0f'}, {-2147483648, '04ffffffff0f'},
      {2147483648, '068080808010'}, {-2147483649, '068180808010'}, {0.5, '053fe0000000000000'},
      {2^53, '068080808080808020'}, {-2^63, '06ffffffffffffffffff01'},
      {2^63, '0543e0000000000000'}, {1/0, '057ff0000000000000'}, {-1.5, '05bff8000000000000'},
      {'abc', '1103616263'}, {'', '1100'}, {{}, '1200'}, {{10}, '120104020414'},
      {{{}}, '1201040212' .. '00'},
    }
    for i, c in ipairs(cases) do eq(hex(z.cdr_wr_var(c[1])), c[2], 'case ' .. i) end
    eq(hex(z.cdr_wr_var()), '01', 'absent')
    eq(hex(z.cdr_wr_table({})), '00', 'empty body')
    eq(hex(z.cdr_wr_table(nil)), '00', 'nil body')
    eq(hex(z.cdr_wr_var(('x'):rep(200))):sub(1, 6), '11c801', 'two-byte length')
    local nan = z.cdr_wr_var(0/0)
    eq(#nan, 9, 'nan size') eq(nan:byte(1), 5, 'nan tag')
  )");
}

TEST_F(CdrValues, DictionaryRule) {
  EXPECT_LUA(R"(
    local d = {abc = 3, [3] = 'abc', big = 2^40, neg = -1, str = '4', [4] = 'str'}
    eq(hex(z.cdr_wr_var('abc', d, 5)), '1303')
    eq(hex(z.cdr_wr_var('abc', d, 3)), '1303')
    eq(hex(z.cdr_wr_var('abc', d, 2)), '1103616263', 'index above limit')
    eq(hex(z.cdr_wr_var('abc', d)), '1103616263', 'no limit')
    eq(hex(z.cdr_wr_var('abc', d, 'x')), '1103616263', 'limit not a number')
    eq(hex(z.cdr_wr_var('abc', d, '5')), '1303', 'numeric string limit')
    eq(hex(z.cdr_wr_var('abc', 'notatable', 5)), '1103616263', 'dictionary not a table')
    eq(hex(z.cdr_wr_var('big', d, 2^41)), '1103626967', 'index beyond 32 bits')
    eq(hex(z.cdr_wr_var('neg', d, 5)), '11036e6567', 'negative index')
    eq(hex(z.cdr_wr_var('str', d, 5)), '1304', 'numeric string index')
    local mt = setmetatable({}, {__index = function() return 1 end})
    eq(hex(z.cdr_wr_var('abc', mt, 5)), '1103616263', 'raw access only')
    eq(hex(z.cdr_wr_var({abc = true}, d, 5)), '1201130303', 'keys use the dictionary')
    local pos, v = z.cdr_rd_var(unhex('1303'), 1, d)
    eq(pos, 3) eq(v, 'abc')
    pos, v = z.cdr_rd_var(unhex('1303'), 1, {[3] = {1}})
    eq(type(v), 'table', 'any non-nil entry')
  )");
}

TEST_F(CdrValues, ReaderExamplesAndDiagnostics) {
  EXPECT_LUA(R"(
    local pos, v = z.cdr_rd_var(unhex('0402'))
    eq(pos, 3) eq(v, 1)
    pos, v = z.cdr_rd_var(unhex('ff0402'), 2)
    eq(pos, 4) eq(v, 1)
    local function none(...) eq(select('#', ...), 0, 'result count') end
    none(z.cdr_rd_var(unhex('0402'), 3))
    none(z.cdr_rd_var(unhex('0402'), 0))
    none(z.cdr_rd_var(unhex('0402'), -1))
    none(z.cdr_rd_var(''))
    none(z.cdr_rd_var(unhex('05') .. ('\0'):rep(7)))
    none(z.cdr_rd_table(unhex('05'), 2))
  )");
  EXPECT_EQ("no dict 19:0", printed("assert(select('#', z.cdr_rd_var(unhex('1305'))) == 0)"));
  EXPECT_EQ("no dict 19:0", printed("assert(select('#', z.cdr_rd_var(unhex('1305'), 1, 'x')) == 0)"));
  EXPECT_EQ("unknow dict string 19:3:5", printed("assert(select('#', z.cdr_rd_var(unhex('1305'), 1, {})) == 0)"));
  EXPECT_EQ("unknow var type 42", printed("assert(select('#', z.cdr_rd_var(unhex('2a'))) == 0)"));
  EXPECT_EQ("unknow var type 0", printed("assert(select('#', z.cdr_rd_table(unhex('01 04 02 00'))) == 0)"));
  // A pair count beyond what the bytes left could hold is read as written:
  // the element where the input breaks decides, also when nested.
  EXPECT_LUA("checkerror('table index is nil', z.cdr_rd_table, '\\2\\1\\1')");
  EXPECT_EQ("unknow var type 42", printed("assert(select('#', z.cdr_rd_table('\\5\\42')) == 0)"));
  EXPECT_EQ("no dict 19:0", printed("assert(select('#', z.cdr_rd_table('\\3\\19\\1\\1')) == 0)"));
  EXPECT_EQ("unknow var type 42", printed("assert(select('#', z.cdr_rd_var('\\18\\5\\42')) == 0)"));
  EXPECT_LUA("assert(select('#', z.cdr_rd_table(unhex('ffffffff0f 0402 0402'))) == 0)");
}

TEST_F(CdrValues, MalformedInputReturnsNothing) {
  EXPECT_LUA(R"(
    local bad = {
      '04', '0480', '04ffffffff8f', '06' .. ('ff'):rep(9) .. '81', '06' .. ('ff'):rep(9),
      '1105616263', '11', '11ffffffff0f', '1202', '120104', '1201040205', '13', 
      '12ffffffff0f', '12ffffffffff',
    }
    for _, h in ipairs(bad) do
      eq(select('#', z.cdr_rd_var(unhex(h))), 0, h)
    end
    eq(select('#', z.cdr_rd_table(unhex('ff'))), 0, 'table count')
    -- bits beyond 32 of a fifth varint32 byte, and beyond bit 63, are dropped
    eq(select(2, z.cdr_rd_var(unhex('04ffffffff7f'))), -2147483648)
    eq(select(2, z.cdr_rd_var(unhex('06' .. ('ff'):rep(9) .. '01'))), -2^63)
    eq(select(2, z.cdr_rd_var(unhex('06' .. ('ff'):rep(9) .. '7f'))), -2^63)
    eq(select(2, z.cdr_rd_var(unhex('06feffffffffffffffff01'))), 2^63 - 1)
    checkerror('table index is nil', z.cdr_rd_table, unhex('01 01 03'))
    checkerror('table index is NaN', z.cdr_rd_table, unhex('01 05 7ff8000000000000 03'))
    local pos, t = z.cdr_rd_table(unhex('02 0402 0403 0402 0405'))
    eq(pos, 10) eq(t[1], -3, 'later duplicate wins')
  )");
}

TEST_F(CdrValues, WriterFailures) {
  EXPECT_EQ("unknow var type 6", printed("assert(select('#', z.cdr_wr_var(print)) == 0)"));
  EXPECT_EQ("unknow var type 2", printed("assert(select('#', z.cdr_wr_var(z.newbuffer():getptr())) == 0)"));
  EXPECT_EQ("unknow var type 8", printed("checkerror('wr var fail', z.cdr_wr_var, {coroutine.create(print)})"));
  EXPECT_EQ("unknow var type 10", printed("checkerror('wr table fail', z.cdr_wr_table, {x = require('ffi').new('int')})"));
  EXPECT_EQ("unknow var type 7", printed("checkerror('wr var fail', z.cdr_wr_var, {[z.newbuffer()] = 1})"));
  EXPECT_LUA(R"(
    checkerror('wr table fail', z.cdr_wr_table, 5)
    checkerror('wr table fail', z.cdr_wr_table, 'abc')
  )");
  // The stack is left clean: many failures in a row, then a normal call.
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += "unknow var type 6";
  EXPECT_EQ(expected, printed(R"(
    for i = 1, 1000 do assert(not pcall(z.cdr_wr_var, {a = {b = {function() end}}})) end
    eq(hex(z.cdr_wr_var({1})), '120104020402')
  )"));
}

TEST_F(CdrValues, DepthLimit) {
  EXPECT_LUA(R"(
    local function nest(n) local t = {} for i = 1, n - 1 do t = {t} end return t end
    local ok200 = z.cdr_wr_var(nest(200))
    local pos, back = z.cdr_rd_var(ok200)
    eq(pos, #ok200 + 1, 'depth 200 reads back')
    checkerror('wr var fail', z.cdr_wr_var, nest(201))
    eq(#z.cdr_wr_table(nest(200)), #ok200 - 1, 'body of depth 200')
    checkerror('wr table fail', z.cdr_wr_table, nest(201))
    local loop = {} loop.self = loop
    checkerror('wr var fail', z.cdr_wr_var, loop)
    checkerror('wr table fail', z.cdr_wr_table, loop)
    checkerror('wr packet fail', z.cdr_wr_packet, nil, 0, nil, nil, nil, loop)
    eq(select('#', z.cdr_rd_var(unhex(('1201 0402'):rep(200) .. '1200'))), 0, 'read depth 201')
    eq(select('#', z.cdr_rd_var(unhex(('1201 0402'):rep(199) .. '1200'))), 2, 'read depth 200')
    eq(select('#', z.cdr_rd_var(unhex(('1201 0402'):rep(100000)))), 0, 'very deep')
    eq(select('#', z.cdr_rd_table(unhex(('01 0402 12'):rep(200) .. '00'))), 0, 'table depth 201')
    eq(select('#', z.cdr_rd_table(unhex(('01 0402 12'):rep(199) .. '00'))), 2, 'table depth 200')
  )");
}

TEST_F(CdrValues, LargeTablesWidenTheCount) {
  EXPECT_LUA(R"(
    for n, prefix in pairs({[127] = '7f', [128] = '8001', [300] = 'ac02', [20000] = 'a09c01'}) do
      local t = {} for i = 1, n do t[i] = i end
      local s = z.cdr_wr_table(t)
      eq(hex(s:sub(1, #prefix / 2)), prefix, 'count varint ' .. n)
      local pos, back = z.cdr_rd_table(s)
      eq(pos, #s + 1) assert(deepeq(back, t), 'round trip ' .. n)
    end
  )");
}

TEST_F(CdrValues, RandomRoundTrips) {
  EXPECT_LUA(R"(
    math.randomseed(7)
    local words = {'alpha', 'beta', 'gamma', 'delta', 'id', 'name', 'x'}
    local dict = {}
    for i, w in ipairs(words) do dict[i] = w dict[w] = i end
    local function rstring()
      if math.random() < 0.5 then return words[math.random(#words)] end
      local t = {} for i = 1, math.random(0, 40) do t[i] = string.char(math.random(0, 255)) end
      return table.concat(t)
    end
    local function rvalue(depth)
      local k = math.random(depth > 3 and 6 or 7)
      if k == 1 then return math.random() < 0.5
      elseif k == 2 then return math.random(-2^31, 2^31 - 1)
      elseif k == 3 then return (math.random() - 0.5) * 2^(math.random(0, 60)) * (math.random() < 0.5 and 1 or math.random())
      elseif k == 4 then return math.floor((math.random() - 0.5) * 2^54)
      elseif k == 5 or k == 6 then return rstring()
      else
        local t = {}
        for i = 1, math.random(0, 8) do t[i] = rvalue(depth + 1) end
        for i = 1, math.random(0, 8) do
          local key = math.random() < 0.5 and rstring() or math.random(-100, 100) + 0.5
          t[key] = rvalue(depth + 1)
        end
        return t
      end
    end
    for i = 1, 500 do
      local v = rvalue(0)
      local d, limit = nil, nil
      if i % 2 == 0 then d, limit = dict, #words end
      local s = z.cdr_wr_var(v, d, limit)
      local pos, back = z.cdr_rd_var(s, 1, d)
      eq(pos, #s + 1, 'position ' .. i)
      assert(deepeq(back, v), 'round trip ' .. i)
      if type(v) == 'table' then
        local body = z.cdr_wr_table(v, d, limit)
        local p2, back2 = z.cdr_rd_table('..' .. body, 3, d)
        eq(p2, #body + 3) assert(deepeq(back2, v), 'table round trip ' .. i)
      end
    end
  )");
}

}  // namespace
}  // namespace halvix::test
