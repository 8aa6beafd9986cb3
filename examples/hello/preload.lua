-- The entry module of the hello application: the three entry points the
-- host calls, and the dispatch of packed calls to the functions under `api`.
local mp = require('hello.msgpack')
local api = require('hello.api')

local preload = {}

function preload.initLuaApp()
  api.hello.started = true
  print('hello: initLuaApp, hot development ' .. tostring(VAR_IS_HOTDEV))
end

function preload.onTick()
  api.hello.tickCount = api.hello.tickCount + 1
end

-- Resolves a dotted path such as "api.hello.add" from this module's roots.
local roots = { api = api }
local function resolve(path)
  local node = roots
  for part in string.gmatch(path, '[^%.]+') do
    if type(node) ~= 'table' then return nil end
    node = node[part]
  end
  if type(node) == 'function' then return node end
  return nil
end

local function answer(callback, ok, ...)
  local results = { ok, ... }
  callback(mp.pack(results))
end

-- A packed call is a MessagePack array: the dotted path, then the arguments.
-- The answer is [true, results...] or [false, message].
function preload.forwardPlateCall(callback, packed)
  local decoded, call = pcall(mp.unpack, packed)
  if not decoded or type(call) ~= 'table' or type(call[1]) ~= 'string' then
    return answer(callback, false, 'bad packed call')
  end
  local f = resolve(call[1])
  if not f then return answer(callback, false, 'no such function: ' .. call[1]) end
  local n = table.maxn(call)
  local results = { pcall(f, unpack(call, 2, n)) }
  if not results[1] then return answer(callback, false, tostring(results[2])) end
  answer(callback, true, unpack(results, 2, table.maxn(results)))
end

return preload
