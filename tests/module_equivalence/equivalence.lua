-- Debian's md5.core and luasql.sqlite3 against ours, driven side by side:
-- every call is made on both, and the results (values, or error messages)
-- must be equal. Returns a summary of what was compared.
local part = ...

local compared = 0

local function normalise(v)
  if type(v) == "userdata" then
    return (tostring(v):gsub("%(0x%x+%)", "(address)"):gsub("%(%x+%)", "(address)"))
  end
  return v
end

local function same(a, b)
  if type(a) ~= type(b) then return false end
  if type(a) ~= "table" then return a == b end
  for k, v in pairs(a) do if not same(v, b[k]) then return false end end
  for k in pairs(b) do if a[k] == nil then return false end end
  return true
end

local function show(v)
  if type(v) ~= "table" then return type(v) == "string" and string.format("%q", v) or tostring(v) end
  local keys = {}
  for k in pairs(v) do keys[#keys + 1] = k end
  table.sort(keys, function(x, y) return tostring(x) < tostring(y) end)
  local out = {}
  for _, k in ipairs(keys) do out[#out + 1] = tostring(k) .. "=" .. show(v[k]) end
  return "{" .. table.concat(out, ", ") .. "}"
end

-- pcall's results as a plain table, with tables copied (a later fetch into
-- the same table must not change what was recorded) and objects named.
local function outcome(...)
  local r = { n = select("#", ...), ... }
  for i = 1, r.n do
    local v = r[i]
    if type(v) == "table" then
      local copy = {}
      for k, x in pairs(v) do copy[k] = normalise(x) end
      r[i] = copy
    else
      r[i] = normalise(v)
    end
  end
  return r
end

local function expectSame(what, a, b)
  if not same(a, b) then error(what .. ": Debian " .. show(a) .. " but ours " .. show(b), 2) end
  compared = compared + 1
end

-- Calls f(theirs, ...) and f(ours, ...) and compares.
local function both(what, theirs, ours, f, ...)
  local a = outcome(pcall(f, theirs, ...))
  local b = outcome(pcall(f, ours, ...))
  expectSame(what, a, b)
  return a
end

local function randomBytes(n)
  local chunk, out = {}, {}
  for i = 1, n do
    chunk[#chunk + 1] = math.random(0, 255)
    if #chunk == 4096 or i == n then
      out[#out + 1] = string.char(unpack(chunk))
      chunk = {}
    end
  end
  return table.concat(out)
end

local function pack(...) return { n = select("#", ...), ... } end

local function hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end

local function md5Part()
  local theirs, ours = require("md5.core"), require("ours.md5.core")
  math.randomseed(1321)
  local inputs, bytes = 0, 0

  local rfc = {
    [""] = "d41d8cd98f00b204e9800998ecf8427e",
    ["a"] = "0cc175b9c0f1b6a831c399e269772661",
    ["abc"] = "900150983cd24fb0d6963f7d28e17f72",
    ["message digest"] = "f96b697d7cb7938d525a2f31aaf161d0",
    ["abcdefghijklmnopqrstuvwxyz"] = "c3fcd3d76192e4007dfb496cca67e13b",
    ["ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"] = "d174ab98d277d9f5a5611c2c9f419d9f",
    [string.rep("1234567890", 8)] = "57edf4a22be3c955ac49da2e2107b67a",
  }
  for text, digest in pairs(rfc) do
    expectSame("RFC 1321 " .. text, digest, hex(ours.sum(text)))
    both("sum " .. text, theirs, ours, function(m) return m.sum(text) end)
    inputs, bytes = inputs + 1, bytes + #text
  end

  local sizes = {}
  for n = 0, 200 do sizes[#sizes + 1] = n end
  for _, n in ipairs { 1000, 4095, 65536, 65599, 999999, 1048575, 1048576 } do sizes[#sizes + 1] = n end
  for _, n in ipairs(sizes) do
    local data = randomBytes(n)
    both("sum of " .. n .. " bytes", theirs, ours, function(m) return m.sum(data) end)
    local other = randomBytes(n)
    both("exor of " .. n .. " bytes", theirs, ours, function(m) return m.exor(data, other) end)
    local key, seed = randomBytes(math.random(0, 256)), randomBytes(math.random(0, 16))
    local c = both("crypt of " .. n .. " bytes", theirs, ours, function(m) return m.crypt(data, key, seed) end)
    both("decrypt of " .. n .. " bytes", theirs, ours, function(m) return m.decrypt(c[2], key) end)
    expectSame("round trip of " .. n .. " bytes", data, ours.decrypt(c[2], key))
    inputs, bytes = inputs + 1, bytes + n
  end

  -- The clock's seed: each side decrypts what the other encrypted.
  local clocked = ours.crypt("message", "key")
  expectSame("seed from the clock", { 8, "message" }, { clocked:byte(1), theirs.decrypt(clocked, "key") })
  expectSame("seed from the clock (Debian's)", "message", ours.decrypt(theirs.crypt("message", "key"), "key"))

  local misuse = {
    pack("sum", 12.5), pack("sum"), pack("sum", {}),
    pack("exor", "ab", "c"), pack("exor", "ab"), pack("exor", nil, {}), pack("exor", "x", 1),
    pack("crypt", "x"), pack("crypt", nil, "k", "s"), pack("crypt", "x", nil, "s"), pack("crypt", "x", "k", nil),
    pack("crypt", "x", "k", {}), pack("crypt", "x", "k", string.rep("s", 17)), pack("crypt", "x", string.rep("k", 257), "s"),
    pack("crypt", "x", string.rep("k", 257), string.rep("s", 17)), pack("crypt", "x", string.rep("k", 256), string.rep("s", 16)),
    pack("decrypt", ""), pack("decrypt", "\0", "k"), pack("decrypt", "\1", "k"), pack("decrypt", "\1a", "k"),
    pack("decrypt", "\17" .. string.rep("a", 20), "k"), pack("decrypt", "x"), pack("decrypt", "\1a"),
    pack("decrypt", "\1a", string.rep("k", 257)), pack("decrypt", 5, "k"),
    pack("crypt", "x", nil, nil), pack("crypt", "x", nil, string.rep("s", 17)), pack("crypt", "x", {}, "sss"),
  }
  for _, call in ipairs(misuse) do
    both(call[1] .. " misuse", theirs, ours, function(m) return m[call[1]](unpack(call, 2, call.n)) end)
  end
  for _, field in ipairs { "_VERSION", "_DESCRIPTION", "_COPYRIGHT" } do expectSame(field, theirs[field], ours[field]) end
  local names = function(m) local t = {} for k, v in pairs(m) do t[k] = type(v) end return t end
  expectSame("module fields", names(theirs), names(ours))
  return string.format("%d inputs (%d bytes) digested, XORed, encrypted and decrypted; %d results compared",
                       inputs, bytes, compared)
end

-- One session's results, in order: {label, outcome} entries.
local function sqlSession(driver)
  local log = {}
  local function rec(label, f, ...) log[#log + 1] = { label, outcome(pcall(f, ...)) } end
  local function call(object, method, ...) return rec(method, object[method], object, ...) end

  -- _CLIENTVERSION is the SQLite each was compiled against: only its type counts.
  local fields = {}
  for k, v in pairs(driver) do fields[k] = type(v) end
  rec("fields", function() return fields, driver._VERSION, driver._DESCRIPTION, driver._COPYRIGHT end)
  local env = driver.sqlite3()
  rec("env", function() return env, getmetatable(env) end)
  call(env, "connect", "/nonexistent/directory/x.db")
  call(env, "connect", {})
  local con = env:connect(":memory:")
  rec("con", function() return con, getmetatable(con) end)

  local function exec(sql) call(con, "execute", sql) end
  exec [[create table t(id integer primary key autoincrement, name text unique, big integer,
         ratio real, data blob, note varchar(20), untyped)]]
  local blob = {}
  for i = 0, 255 do blob[#blob + 1] = string.format("%02x", i) end
  local rows = {
    { "'plain'", "1", "0.5", "x'00ff00'", "'n'", "1" },
    { "'" .. con:escape("it's 'quoted'") .. "'", "3000000000", "-2.25", "x'" .. table.concat(blob) .. "'", "NULL", "'t'" },
    { "NULL", "-5000000000", "1e300", "NULL", "'x'", "2.5" },
    { "'big'", "9007199254740993", "0.1", "x''", "''", "NULL" },
    { "'neg'", "-9223372036854775808", "-0.0", "zeroblob(3)", "'a'", "x'61'" },
  }
  for _, r in ipairs(rows) do
    exec("insert into t(name, big, ratio, data, note, untyped) values(" .. table.concat(r, ", ") .. ")")
    call(con, "getlastautoid")
  end
  exec "create table u(x)"  -- a DDL statement reports the last DML count
  call(con, "escape", "it's a 'test'")
  call(con, "escape", "")
  call(con, "escape", "a\0b")
  call(con, "escape")

  local cur = con:execute("select * from t order by id")
  local fetch = cur.fetch
  call(cur, "getcolnames")
  call(cur, "getcoltypes")
  rec("same column tables", function() return cur:getcolnames() == cur:getcolnames(), cur:getcoltypes() == cur:getcoltypes() end)
  call(cur, "fetch")
  call(cur, "fetch", {}, "a")
  call(cur, "fetch", { "o1", "o2", "o3", "o4", "o5", "o6", "o7", "o8", name = "old", note = "old" }, "an")
  call(cur, "fetch", {}, "x")
  call(cur, "fetch", {})
  call(cur, "fetch")
  rec("after the end", function() return cur end)
  call(cur, "fetch")
  call(cur, "getcolnames")
  call(cur, "close")

  cur = con:execute("select id, name from t order by id")
  call(cur, "fetch", nil, {})
  call(cur, "fetch", {}, {})
  call(cur, "fetch", 5)
  call(cur, "close")
  call(cur, "close")
  exec "select id from t where 0"
  exec "select 1 as x, 2 as x, 2147483648 * 4, 12345678901234567890, cast(x'610062' as text)"
  call(con:execute("select 1 as x, 2 as x, 2147483648 * 4, 12345678901234567890, cast(x'610062' as text)"), "fetch", {}, "an")
  call(con:execute("select count(*), 1 + 1 from t"), "getcoltypes")

  -- Failures: bad SQL, constraint, a run-time error at the first row and at a later one.
  exec "selec bad"
  exec "select * from nosuch"
  exec ""
  exec "insert into t(name) values('plain')"
  exec "select abs(-9223372036854775808)"
  cur = con:execute("select id from t union all select abs(-9223372036854775808)")
  for _ = 1, 7 do call(cur, "fetch") end
  call(cur, "close")
  exec "insert into t(name) values('one'); insert into t(name) values('two')"
  exec "update t set note = 'u' where id > 2"
  exec "delete from t where name = 'one'"

  -- Transactions.
  local function count() rec("count", function() return con:execute("select count(*) from t"):fetch() end) end
  call(con, "commit")
  call(con, "rollback")
  call(con, "setautocommit", false)
  exec "insert into t(name) values('r1')"
  call(con, "rollback")
  count()
  exec "insert into t(name) values('c1')"
  call(con, "commit")
  count()
  exec "insert into t(name) values('r2')"
  call(con, "rollback")
  count()
  call(con, "setautocommit", false)
  exec "begin"
  exec "insert into t(name) values('dropped')"
  call(con, "setautocommit", true)
  count()
  call(con, "setautocommit", true)
  call(con, "rollback")
  exec "begin"
  exec "insert into t(name) values('kept')"
  exec "commit"
  count()
  call(con, "setautocommit", "yes")
  call(con, "getlastautoid")

  -- Closing, closed objects and objects of the wrong kind.
  cur = con:execute("select * from t")
  call(con, "close")
  call(env, "close")
  call(env, "close")
  call(env, "connect", ":memory:")
  call(cur, "close")
  cur = con:execute("select * from t")
  cur = nil
  collectgarbage()
  collectgarbage()
  call(con, "close")
  call(con, "close")
  rec("closed", function() return tostring(con), tostring(env) end)
  for _, method in ipairs { "execute", "commit", "rollback", "setautocommit", "getlastautoid", "escape" } do
    call(con, method, "select 1")
  end
  rec("connection method on an environment", con.execute, driver.sqlite3(), "select 1")
  rec("cursor method on a table", fetch, {})
  rec("no self", env.connect)

  -- Abandoned objects: a cursor whose connection and environment are gone.
  local env2 = driver.sqlite3()
  local con2 = env2:connect(":memory:")
  local open = con2:execute("select 1 union select 2")
  call(con2, "close")
  con2, env2 = nil, nil
  collectgarbage()
  call(open, "fetch")
  call(open, "close")
  local lost = driver.sqlite3():connect(":memory:")
  lost:execute("select 1 union select 2")
  lost = nil
  collectgarbage()
  return log
end

local function luasqlPart()
  -- Both drivers name their metatables alike in the registry: Debian's
  -- session runs to its end and its objects are collected before ours loads.
  local a = sqlSession(require("luasql.sqlite3"))
  collectgarbage()
  collectgarbage()
  local registry = debug.getregistry()
  for _, kind in ipairs { "environment", "connection", "cursor" } do registry["SQLite3 " .. kind] = nil end
  local b = sqlSession(require("ours.luasql.sqlite3"))
  expectSame("number of results", #a, #b)
  for i = 1, #a do
    expectSame(string.format("#%d %s", i, a[i][1]), a[i][2], b[i][2])
  end
  return string.format("%d LuaSQL calls compared", compared - 1)
end

if part == "md5" then return md5Part() end
return luasqlPart()
