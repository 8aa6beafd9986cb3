-- lsdpack: writes, lists and extracts application bundles with the host's
-- own reader (make_readable), so a bundle it accepts is one the host reads.
local lfs = require('lfs')
local zlib = require('zlib')
local MessagePack = require('base.MessagePack')
local make_readable = require('make_readable')

local M = {}

local USAGE = [[
usage: lsdpack [-o OUT] [--label TEXT] [--bytecode] [--strip] DIR [DIR...]
       lsdpack --list FILE
       lsdpack --extract FILE MODULE
]]

local function fail(...)
  io.stderr:write("lsdpack: ", table.concat({ ... }), "\n")
  return 1
end

local function encode(bytes)
  return zcrypt1(make_readable.CompressPassword, zlib.compress(bytes))
end

local function bigEndian32(n)
  return string.char(math.floor(n / 16777216) % 256, math.floor(n / 65536) % 256, math.floor(n / 256) % 256, n % 256)
end

-- Every .lua file below dir, as names relative to it with "/" separators,
-- sorted. Linked directories are not followed, so a link cycle cannot loop.
local function luaFiles(dir)
  local names = {}
  local function walk(rel)
    local path = rel == "" and dir or dir .. "/" .. rel
    for entry in lfs.dir(path) do
      if entry ~= "." and entry ~= ".." then
        local childRel = rel == "" and entry or rel .. "/" .. entry
        local childPath = dir .. "/" .. childRel
        local link = lfs.symlinkattributes(childPath, "mode")
        local mode = lfs.attributes(childPath, "mode")
        if mode == "directory" and link ~= "link" then
          walk(childRel)
        elseif mode == "file" and childRel:sub(-4) == ".lua" then
          names[#names + 1] = childRel
        end
      end
    end
  end
  walk("")
  table.sort(names)
  return names
end

local function readAll(path)
  local f, err = io.open(path, "rb")
  if not f then return nil, err end
  local data = f:read("*a")
  f:close()
  return data
end

-- require can reach a bundle entry only if the searcher maps some module
-- name onto it; that holds exactly when the name maps onto itself.
local function reachable(name)
  return make_readable.moduleFileName(name) == name
end

local function moduleCode(path, name, options)
  local source, err = readAll(path)
  if not source then return nil, err end
  if not options.bytecode then return source end
  local fn, compileErr = loadstring(source, "@" .. name)
  if not fn then return nil, compileErr end
  return string.dump(fn, options.strip)
end

local function buildBlock(dir, label, options)
  local attr = lfs.attributes(dir, "mode")
  if attr ~= "directory" then return nil, "'" .. dir .. "' is not a directory" end
  local names = luaFiles(dir)
  if #names == 0 then return nil, "no .lua files under '" .. dir .. "'" end

  local modList, area, offset, plain = {}, {}, 0, {}
  for _, name in ipairs(names) do
    if not reachable(name) then
      return nil, "'" .. dir .. "/" .. name .. "': require could never find this module name"
        .. " (it holds \".lua\" before its end)"
    end
    local code, err = moduleCode(dir .. "/" .. name, name, options)
    if not code then return nil, "'" .. dir .. "/" .. name .. "': " .. tostring(err) end
    local stored = encode(code)
    modList[name] = { offset, #stored }
    area[#area + 1] = stored
    offset = offset + #stored
    plain[name] = code
  end
  local header = encode(MessagePack.pack({ make_readable.LibTag, label or dir, offset, modList }))
  return bigEndian32(#header) .. header .. table.concat(area), plain
end

-- Reads the written bundle back through the loader and compares each module.
local function verify(out, expected)
  local loader = make_readable.LuaLibFile.new()
  local ok, loaded = pcall(loader.loadFromFile, loader, out)
  if not ok or loaded ~= true then return false, tostring(loaded) end
  for name, code in pairs(expected) do
    if loader:readMod(name) ~= code then
      loader:close()
      return false, "module " .. name .. " does not read back"
    end
  end
  loader:close()
  return true
end

local function pack(args)
  local options, dirs, out, label = {}, {}, "ls.lsd", nil
  local i = 1
  while i <= #args do
    local a = args[i]
    if a == "-o" or a == "--label" then
      if args[i + 1] == nil then return fail(a, " needs a value\n", USAGE) end
      if a == "-o" then out = args[i + 1] else label = args[i + 1] end
      i = i + 2
    elseif a == "--bytecode" then
      options.bytecode, i = true, i + 1
    elseif a == "--strip" then
      options.strip, i = true, i + 1
    elseif a:sub(1, 1) == "-" and a ~= "-" then
      return fail("unknown option ", a, "\n", USAGE)
    else
      dirs[#dirs + 1], i = a, i + 1
    end
  end
  if #dirs == 0 then return fail("no directory given\n", USAGE) end
  if options.strip and not options.bytecode then return fail("--strip needs --bytecode") end

  local blocks, expected, total = {}, {}, 0
  for _, dir in ipairs(dirs) do
    local block, plain = buildBlock(dir, label, options)
    if not block then return fail(plain) end
    blocks[#blocks + 1] = block
    for name, code in pairs(plain) do
      if expected[name] == nil then
        expected[name] = code
        total = total + 1
      end
    end
  end

  local f, err = io.open(out, "wb")
  if not f then return fail("cannot write '", out, "': ", tostring(err)) end
  local written, writeErr = f:write(table.concat(blocks))
  local closed, closeErr = f:close()
  if not written or not closed then
    os.remove(out)
    return fail("cannot write '", out, "': ", tostring(writeErr or closeErr))
  end
  local ok, why = verify(out, expected)
  if not ok then
    os.remove(out)
    return fail("the written bundle does not read back: ", why)
  end
  io.stdout:write(string.format("%s: %d block(s), %d module(s)\n", out, #blocks, total))
  return 0
end

local function openBundle(file)
  local loader = make_readable.LuaLibFile.new()
  local ok, loaded = pcall(loader.loadFromFile, loader, file)
  if not ok then return nil, "cannot read bundle '" .. file .. "': " .. tostring(loaded) end
  if loaded ~= true then return nil, "cannot open bundle '" .. file .. "'" end
  return loader
end

local function list(file)
  local loader, err = openBundle(file)
  if not loader then return fail(err) end
  io.stdout:write(loader:listAll())
  loader:close()
  if ReaderDiagnostics > 0 then return fail("'", file, "' is damaged: it ends inside a block") end
  return 0
end

local function extract(file, module)
  local loader, err = openBundle(file)
  if not loader then return fail(err) end
  local code = loader:readMod(module)
  if code == nil then code = loader:readMod(make_readable.moduleFileName(module)) end
  loader:close()
  if code == nil then return fail("no module '", module, "' in '", file, "'") end
  io.stdout:write(code)
  return 0
end

function M.main(args)
  if args[1] == "--list" then
    if #args ~= 2 then return fail(USAGE) end
    return list(args[2])
  elseif args[1] == "--extract" then
    if #args ~= 3 then return fail(USAGE) end
    return extract(args[2], args[3])
  elseif args[1] == "-h" or args[1] == "--help" then
    io.stdout:write(USAGE)
    return 0
  end
  return pack(args)
end

return M
