-- Reader of the application bundle and the module loader that serves
-- `require` and `loadfile` from it.
--
-- A bundle is a sequence of blocks up to the end of the file:
--   4 bytes   H, big-endian: length of the encoded header
--   H bytes   encoded header: zcrypt1(password, zlib(MessagePack array))
--             {"lib1", luaPath, luaSize, {[name] = {offset, size}}}
--   luaSize   module area; a module's stored bytes are encoded like the header
--
-- Every number taken from a header is checked before it moves the file
-- position or sizes a read: a corrupt bundle must fail, never loop or ask for
-- gigabytes of memory.
local MessagePack = require('base.MessagePack')
local zlib = require('zlib')

local M = {}

local CompressPassword = "FernQuill_fqx4"
local LibTag = "lib1"
M.CompressPassword = CompressPassword
M.LibTag = LibTag

-- Doubles hold integers exactly up to here; no valid offset or size is larger.
local kMaxCount = 2 ^ 53
-- A header lists names and two numbers per module: 8 MiB is room for
-- hundreds of thousands of modules, and keeps a corrupt header that inflates
-- to something huge from being decoded element by element.
local kMaxHeaderBytes = 8 * 1024 * 1024

LuaPackMode = "compile_bytecode"

local function makePrinter()
  return function(...)
    if type(LogLevel) == "number" and type(LogLevel_Debug) == "number" and LogLevel >= LogLevel_Debug then
      local parts = {}
      for i = 1, select("#", ...) do
        parts[i] = tostring((select(i, ...)))
      end
      print(table.concat(parts, ","))
    end
  end
end

local ErrPrint = ErrPrint or makePrinter()
local DbgPrint = DbgPrint or makePrinter()
M.ErrPrint = ErrPrint
M.DbgPrint = DbgPrint

local function isCount(n)
  return type(n) == "number" and n >= 0 and n <= kMaxCount and n == math.floor(n)
end

-- Bytes between the current position and the end of the file; 0 when the
-- file cannot tell (a bundle must be seekable anyway).
local function bytesLeft(f)
  local here = f:seek()
  if not here then return 0 end
  local size = f:seek("end")
  f:seek("set", here)
  if not size or size < here then return 0 end
  return size - here
end

---------------------------------------------------------------------------
local PackFile = {}

function PackFile.decompressBuffer(s)
  if s == nil or s == "" then return s end
  return zlib.decompress(zcrypt1(CompressPassword, s))
end

function PackFile._readSize(f)
  local b = f:read(4)
  if b == nil or #b < 4 then return nil end
  local b1, b2, b3, b4 = b:byte(1, 4)
  return b1 * 16777216 + b2 * 65536 + b3 * 256 + b4
end

function PackFile.read(f)
  local size = PackFile._readSize(f)
  if size == nil then return nil end
  local data = ""
  if size > 0 then
    local left = bytesLeft(f)
    -- A file that ends right after the length is an error of its own, not
    -- a short header.
    if left == 0 then error("Not enough header byte to read, size is " .. size .. ", got 0", 0) end
    if left < size then
      ErrPrint("Not enough header byte to read, size is ", size, left)
      return nil
    end
    data = f:read(size)
    if data == nil or #data < size then
      ErrPrint("Not enough header byte to read, size is ", size, data and #data or 0)
      return nil
    end
  end
  local plain = PackFile.decompressBuffer(data)
  if #plain > kMaxHeaderBytes then
    error("header too large: " .. #plain .. " bytes", 0)
  end
  return MessagePack.unpack(plain)
end

function PackFile.readLuaLibs(fn)
  local f = io.open(fn, "rb")
  -- A directory opens on some systems but cannot be read.
  local readable, readErr = true, nil
  if f then readable, readErr = f:read(0) end
  if not f or (readable == nil and readErr ~= nil) then
    DbgPrint("Open file for read failed:", fn)
    if f then f:close() end
    return nil
  end
  local list = {}
  local ok, err = pcall(function()
    while true do
      local lib = M.LuaLib.new()
      if lib:readFromFile(f) ~= true then break end
      list[#list + 1] = lib
      f:seek("cur", lib._libInfo.luaSize)
    end
  end)
  f:close()
  if not ok then error(err, 0) end
  return list
end

M.PackFile = PackFile

---------------------------------------------------------------------------
local LuaLib = {}
LuaLib.__index = LuaLib

function LuaLib.new()
  return setmetatable({ _libInfo = nil }, LuaLib)
end

-- A header worth trusting: the tag, a module area size that can move the
-- file position only forwards, and a module list that is a table.
local function validHeader(info)
  return type(info) == "table" and info[1] == LibTag and isCount(info[3]) and type(info[4]) == "table"
end

function LuaLib:readFromFile(f)
  local info = PackFile.read(f)
  if info == nil then return nil end
  if not validHeader(info) then
    ErrPrint("fileInfo=", info)
    error("bad fileInfo", 0)
  end
  local modList = {}
  for name, entry in pairs(info[4]) do
    if type(name) == "string" and type(entry) == "table" then
      modList[name] = { offset = entry[1], size = entry[2] }
    end
  end
  self._libInfo = {
    tag = info[1],
    luaPath = info[2],
    luaSize = info[3],
    modList = modList,
    readBaseOffset = f:seek(),
  }
  return true
end

function LuaLib:readMod(f, name)
  local info = self._libInfo
  if info == nil or name == nil then return nil end
  local entry = info.modList[name]
  if entry == nil then return nil end

  local pos = type(entry.offset) == "number" and info.readBaseOffset + entry.offset or entry.offset
  local at = isCount(pos) and f:seek("set", pos)
  if not at or at ~= pos then
    ErrPrint("set to offset failed:", pos, entry, name)
    return nil
  end

  local size = entry.size
  if not isCount(size) then
    ErrPrint("No enough bytes to read:", 0, size)
    return nil
  end
  if size == 0 then return "" end
  local left = bytesLeft(f)
  if left < size then
    ErrPrint("No enough bytes to read:", left, size)
    return nil
  end
  local data = f:read(size)
  if data == nil or #data < size then
    ErrPrint("No enough bytes to read:", data and #data or 0, size)
    return nil
  end

  -- A module that does not decode raises the zlib module's error, which
  -- require passes on: it must not fall through to a same-named file on disk.
  return PackFile.decompressBuffer(data)
end

function LuaLib:description()
  local info = self._libInfo or { modList = {} }
  local names = {}
  for name in pairs(info.modList) do names[#names + 1] = name end
  table.sort(names)
  local parts = { "LuaPath:" .. tostring(info.luaPath) .. "\n" }
  for _, name in ipairs(names) do parts[#parts + 1] = name .. "," end
  parts[#parts + 1] = "\nTotal count:" .. #names
  return table.concat(parts)
end

M.LuaLib = LuaLib

---------------------------------------------------------------------------
local LuaLibFile = {}
LuaLibFile.__index = LuaLibFile

function LuaLibFile.new()
  return setmetatable({ _libList = nil, _fp = nil }, LuaLibFile)
end

function LuaLibFile:loadFromFile(fn)
  self:close()
  self._libList = PackFile.readLuaLibs(fn)
  if self._libList == nil then return nil end
  local fp = io.open(fn, "rb")
  if not fp then
    DbgPrint("Open file for read failed:", fn)
    self._libList = nil
    return nil
  end
  self._fp = fp
  return true
end

function LuaLibFile:readMod(name)
  if self._libList == nil or self._fp == nil then return nil end
  for _, lib in ipairs(self._libList) do
    local code = lib:readMod(self._fp, name)
    if code ~= nil then return code end
  end
  return nil
end

function LuaLibFile:addLuaLib(lib)
  self._libList = self._libList or {}
  self._libList[#self._libList + 1] = lib
end

function LuaLibFile:listAll()
  local parts = {}
  for i, lib in ipairs(self._libList or {}) do
    parts[#parts + 1] = string.format("Index %d: ", i) .. "\n" .. lib:description() .. "\n"
  end
  return table.concat(parts)
end

function LuaLibFile:close()
  if self._fp then self._fp:close() end
  self._fp = nil
  self._libList = nil
end

M.LuaLibFile = LuaLibFile

function M.createLibClasses()
  return { PackFile = PackFile, LuaLib = LuaLib, LuaLibFile = LuaLibFile }
end

---------------------------------------------------------------------------
local kPackModes = { b64 = true, compile_bytecode = true, compile_loadstring = true }

-- Decoded module bytes to a function, or nil and the reason. Compiled with
-- loadstring's own chunk name, which application code may match in error
-- texts and debug.getinfo.
function M._bin2LuaBlock(bytes)
  assert(kPackModes[LuaPackMode], "bad LuaPackMode: " .. tostring(LuaPackMode))
  local failText = "Lua block from compile string failed."
  local code = bytes
  if LuaPackMode == "b64" then
    failText = "Lua block from b64 string failed."
    if bytes ~= "" then code = require("mime.core").unb64(bytes) end
  end
  local fn, err
  if type(code) == "string" then
    fn, err = loadstring(code)
  else
    err = "not a string"
  end
  if type(fn) ~= "function" then
    ErrPrint(failText, type(bytes) == "string" and #bytes or 0, err)
    return nil, err
  end
  return fn
end

-- "aa.bb" names the entry "aa/bb.lua"; a name ending in ".lua" is the entry itself.
function M.moduleFileName(f)
  if #f >= 4 and string.find(f, ".lua", 1, true) == #f - 3 then return f end
  return (string.gsub(f, "%.", "/")) .. ".lua"
end

function M.setupLoader(loader)
  local function searcher(f)
    local fileName = M.moduleFileName(f)
    local code = loader:readMod(fileName)
    DbgPrint("conv require():", f, "==>", fileName, type(code))
    if code == nil then return end
    local fn, err = M._bin2LuaBlock(code)
    if fn then return fn end
    ErrPrint("require() failed : file ", f, fileName, fn, err)
  end
  package.loaders[1] = searcher

  M._prev_loadfile = loadfile
  loadfile = function(f, ...)
    local name = f
    local prefix = VAR_PACKED_LUA_PREFIX
    if prefix ~= nil then
      local head = tostring(prefix) .. "/"
      if type(f) ~= "string" or f:sub(1, #head) ~= head then return M._prev_loadfile(f, ...) end
      name = f:sub(#head + 1)
    end
    local code = loader:readMod(name)
    DbgPrint("conv loadfile():", f, "==>", name, type(code))
    if code == nil then return end
    local fn, err = M._bin2LuaBlock(code)
    if fn then return fn end
    ErrPrint("loadfile() failed : file ", f, name, fn, err)
  end
end

return M
