// The byte buffer against a model of its record written in Lua: the block's
// bytes, misalign and length, under random operation sequences.
#include "tests/support/zsocket_lua_fixture.h"

namespace halvix::test {
namespace {

using ByteBufferModel = ZsocketLuaFixture;

TEST_F(ByteBufferModel, RandomSequences) {
  EXPECT_LUA(R"(
    local ffi = require('ffi')
    local function contents(b)
      local n = b:getlen()
      return n == 0 and '' or ffi.string(b:getptr(), n)
    end
    local M = {}
    M.__index = M
    local function model() return setmetatable({block = '', mis = 0, len = 0}, M) end
    function M:content() return self.block:sub(self.mis + 1, self.mis + self.len) end
    function M:realign()
      self.block = self:content() .. self.block:sub(self.len + 1)
      self.mis = 0
    end
    function M:expand(n)
      local need = self.mis + self.len + n
      if #self.block >= need then return end
      if self.mis >= n then self:realign() return end
      local c = math.max(#self.block, 256)
      while c < need do c = c * 2 end
      if self.mis ~= 0 then self:realign() end
      self.block = self.block .. ('\0'):rep(c - #self.block)
    end
    function M:put(s)
      self:expand(#s)
      local at = self.mis + self.len
      self.block = self.block:sub(1, at) .. s .. self.block:sub(at + #s + 1)
      self.len = self.len + #s
    end
    function M:consume(n)
      if n >= self.len then self.len, self.mis = 0, 0 else self.mis, self.len = self.mis + n, self.len - n end
    end

    math.randomseed(11)
    local function rbytes(n)
      local t = {}
      for i = 1, n do t[i] = string.char(math.random(0, 255)) end
      if math.random() < 0.3 then t[#t + 1] = math.random() < 0.5 and '\r' or '\n' end
      return table.concat(t)
    end
    for run = 1, 40 do
      local b, m = z.newbuffer(), model()
      for step = 1, 150 do
        local op = math.random(9)
        local what
        if op <= 3 then
          local s = rbytes(math.random(0, op == 3 and 700 or 40))
          local i, j = math.random(0, #s + 1), math.random(0, #s + 2)
          b:put(s, i, j)
          m:put(i >= 1 and j >= i and s:sub(i, j) or '')
          what = 'put'
        elseif op == 4 then
          local n = math.random(0, m.len + 5)
          b:drain(n) m:consume(n) what = 'drain'
        elseif op == 5 then
          local n = math.random(0, m.len + 5)
          eq(b:remove(n), m:content():sub(1, n), 'remove') m:consume(n) what = 'remove'
        elseif op == 6 then
          local line = b:readline()
          local c = m:content()
          local at = c:find('[\r\n]')
          if not at then
            eq(line, nil, 'no line')
          else
            eq(line, c:sub(1, at - 1), 'line')
            local used = at
            local nx = c:sub(at + 1, at + 1)
            if (nx == '\r' or nx == '\n') and nx ~= c:sub(at, at) then used = used + 1 end
            m:consume(used)
          end
          what = 'readline'
        elseif op == 7 then
          local n = math.random(0, #m.block + 10)
          b:rollback(n)
          m.mis, m.len = 0, math.min(n, #m.block) what = 'rollback'
        elseif op == 8 then
          local extra = math.random(-20, 60)
          b:drain(0, extra)
          if extra >= 0 then m:expand(extra) m.len = m.len + extra else m.len = math.max(0, m.len + extra) end
          what = 'drain extra'
        else
          local n = math.random(-2, 900)
          b:expand(n)
          if n >= 1 then m:expand(n) end
          what = 'expand'
        end
        eq(b:getlen(), m.len, 'length after ' .. what)
        if contents(b) ~= m:content() then error('contents differ after ' .. what .. ' in run ' .. run) end
      end
      b:rollback(2^40)
      eq(b:getlen(), #m.block, 'capacity')
      assert(contents(b) == m.block, 'whole block')
    end
  )");
}

}  // namespace
}  // namespace halvix::test
