// irpacker.pack, and pack/unpack together.
#include "tests/support/lua_fixture.h"

namespace halvix::test {
namespace {

class IrpackerPack : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    // The timing table, typed in again, and the value of each code.
    ASSERT_LUA(R"(
      T = {
        205, 213, 220, 228, 236, 244, 253, 262, 271, 280, 290, 300,
        311, 322, 333, 345, 357, 369, 382, 395, 409, 424, 439, 454,
        470, 486, 503, 521, 539, 558, 578, 598, 619, 640, 663, 686,
        710, 735, 761, 787, 815, 843, 873, 904, 935, 968, 1002, 1037,
        1073, 1111, 1150, 1190, 1232, 1275, 1319, 1366, 1413, 1463, 1514, 1567,
        1622, 1679, 1738, 1798, 1861, 1927, 1994, 2064, 2136, 2211, 2288, 2368,
        2451, 2537, 2626, 2718, 2813, 2911, 3013, 3119, 3228, 3341, 3458, 3579,
        3704, 3834, 3968, 4107, 4251, 4400, 4554, 4713, 4878, 5049, 5226, 5408,
        5598, 5794, 5997, 6206, 6424, 6648, 6881, 7122, 7371, 7629, 7896, 8173,
        8459, 8755, 9061, 9379, 9707, 10047, 10398, 10762, 11139, 11529, 11932, 12350,
        12782, 13230, 13693, 14172, 14668, 15181, 15713, 16263, 16832, 17421, 18031, 18662,
        19315, 19991, 20691, 21415, 22165, 22940, 23743, 24574, 25434, 26325, 27246, 28200,
        29187, 30208, 31265, 32360, 33492, 34665, 35878, 37134, 38433, 39779, 41171, 42612,
        44103, 45647, 47245, 48898, 50610, 52381, 54214, 56112, 58076, 60108, 62212, 64390,
      }
      assert(#T == 168)
      function ptable(t) return hex(irpacker.pack(t)) end
    )");
  }
};

TEST_F(IrpackerPack, WorkedExample) {
  EXPECT_LUA(R"(
    local values = {9000, 4500, 560, 560, 560, 1690, 560, 560, 560, 1690, 560, 1690, 560, 560,
                    40000, 0, 9000, 2250, 560}
    local packed = irpacker.pack(values)
    eq(hex(packed), '8b77013b5b0c1140b7008b633b', 'packed')
    eq(#packed, 13, 'length')
    local back = irpacker.unpack(packed)
    eq(table.concat(back, ' '),
       '8755 4400 558 558 558 1679 558 558 558 1679 558 1679 558 558 39779 0 8755 2211 558',
       'unpacked')
  )");
}

TEST_F(IrpackerPack, EdgeCases) {
  EXPECT_LUA(R"(
    local cases = {
      {{}, ''},
      {{560}, '3b'}, {{560, 1690}, '3b5b'}, {{560, 1690, 560}, '013b5b0340'},
      {{560, 560, 560}, '013b000300'}, {{560, 575, 590}, '013b000300'},
      {{100}, '1e'}, {{70000}, '77'}, {{65535}, 'ff'}, {{64390}, 'c5'}, {{64389}, 'c4'},
      {{0}, '00'}, {{1}, '1e'}, {{205}, '1e'}, {{206}, '1e'}, {{213}, '1f'}, {{65534}, 'c5'},
      {{-1}, 'ff'}, {{65536}, '00'}, {{'560'}, '3b'}, {{560.9}, '3b'}, {{'x'}, '00'}, {{{}}, '00'},
      {{2^63}, '00'}, {{0/0}, '00'},
      -- A break code ends a pending pair or run, and is written after it.
      {{560, 0, 560}, '3b003b'}, {{560, 1690, 65535}, '3b5bff'},
      {{560, 560, 560, 0, 1690}, '013b000300' .. '00' .. '5b'},
      -- Close to neither reference: the pair or run is written, then a new A.
      {{560, 1690, 9000}, '3b5b8b'}, {{560, 1690, 560, 9000}, '013b5b0340' .. '8b'},
      -- A run without B takes the first far value as B.
      {{560, 560, 1690, 560}, '013b5b0420'}, {{560, 560, 9000}, '013b8b0320'},
      -- The first nil ends the values (raw access).
      {{560, nil, 1690}, '3b'},
    }
    for i, c in ipairs(cases) do eq(ptable(c[1]), c[2], 'case ' .. i) end
    local proxied = setmetatable({}, {__index = function() return 560 end})
    eq(irpacker.pack(proxied), '', 'no metamethods')
  )");
}

TEST_F(IrpackerPack, CodesOfEveryTableEntry) {
  EXPECT_LUA(R"(
    for k = 0, 166 do
      eq(ptable({T[k + 1]}), string.format('%02x', 30 + k), 'T[' .. k .. ']')
      eq(ptable({T[k + 2] - 1}), string.format('%02x', 30 + k), 'below T[' .. (k + 1) .. ']')
      eq(irpacker.unpack(string.char(30 + k))[1], T[k + 1], 'value of code ' .. (30 + k))
    end
  )");
}

TEST_F(IrpackerPack, LongRuns) {
  EXPECT_LUA(R"(
    local t = {}
    for i = 1, 255 do t[i] = 560 end
    local run = irpacker.pack(t)
    eq(#run, 36, 'a full run')
    eq(hex(run:sub(1, 4)), '013b00ff', 'run header')
    eq(run:sub(5), string.rep('\0', 32), 'all bits 0')
    t[256] = 560
    eq(irpacker.pack(t), run .. '\59', 'the 256th value starts afresh')
    -- Alternating A and B over 600 values: runs of 255, then the rest.
    local alt = {}
    for i = 1, 600 do alt[i] = (i % 2 == 1) and 560 or 1690 end
    local packed = irpacker.pack(alt)
    local back = irpacker.unpack(packed)
    eq(#back, 600, 'values back')
    for i = 1, 600 do eq(back[i], (i % 2 == 1) and 558 or 1679, 'value ' .. i) end
    eq(hex(packed:sub(1, 5)), '013b5bff55', 'first run')
  )");
}

TEST_F(IrpackerPack, RandomSequencesComeBackWithinOneStep) {
  EXPECT_LUA(R"(
    math.randomseed(3)
    local bases = {560, 1690, 9000, 4500, 2250}
    for round = 1, 300 do
      local t = {}
      for i = 1, math.random(0, 150) do
        local r = math.random()
        if r < 0.05 then t[i] = 0
        elseif r < 0.07 then t[i] = 65535
        elseif r < 0.8 then t[i] = bases[math.random(1, 2)] + math.random(-15, 15)
        else t[i] = math.random(206, 64389) end
      end
      local ok, packed = pcall(irpacker.pack, t)
      assert(ok, packed)
      assert(#packed <= 1024)
      local back = #t == 0 and {} or irpacker.unpack(packed)
      eq(#back, #t, 'count in round ' .. round)
      -- Every value comes back as a table entry: its own (rounded down), or
      -- inside a run the reference code, at most 2 codes away.
      for i, v in ipairs(t) do
        local b = back[i]
        if v == 0 or v == 65535 then
          eq(b, v, 'break value')
        else
          local lo, hi = 1, 168
          for k = 1, 168 do if T[k] <= v then lo = k end end
          local near = false
          for k = math.max(1, lo - 2), math.min(168, lo + 2) do
            if T[k] == b then near = true end
          end
          assert(near, 'round ' .. round .. ' value ' .. i .. ': ' .. v .. ' came back as ' .. b)
        end
      end
    end
  )");
}

TEST_F(IrpackerPack, TooLongOutputIsRefused) {
  EXPECT_LUA(R"(
    -- 1024 plain codes fit exactly; one more does not.
    local t = {}
    for i = 1, 1024 do t[i] = (i % 2 == 0) and 0 or 65535 end
    eq(#irpacker.pack(t), 1024, 'exactly the limit')
    t[1025] = 0
    checkerror('packed code longer than 1024 bytes', irpacker.pack, t)
    -- Runs that pass the limit while being written.
    local runs = {}
    for i = 1, 255 * 30 do runs[i] = 560 end
    checkerror('packed code longer than 1024 bytes', irpacker.pack, runs)
    -- A pending pair written at the end.
    local pair = {}
    for i = 1, 1023 do pair[i] = 0 end
    pair[1024] = 560; pair[1025] = 1690
    checkerror('packed code longer than 1024 bytes', irpacker.pack, pair)
  )");
}

TEST_F(IrpackerPack, ErrorTexts) {
  EXPECT_LUA(R"(
    local ok, err = pcall(irpacker.pack, 'x')
    eq(ok, false)
    eq(err, 'params 1 must be a table', 'no position from pcall level')
    local function caller() local r = irpacker.pack(42); return r end
    local ok2, err2 = pcall(caller)
    assert(err2:find('^test:%d+: params 1 must be a table$'), err2)
    checkerror('params 1 must be a table', irpacker.pack)
  )");
}

}  // namespace
}  // namespace halvix::test
