-- The demo lamp application's entry module: the host's three entry points.
local mp = require('lampdemo.msgpack')
local api = require('lampdemo.api')
local lamps = require('lampdemo.lamps')

local preload = {}

function preload.initLuaApp()
  lamps.start(os.getenv('HALVIX_DEMO_LAMPS') or 'lamps.conf')
end

function preload.onTick()
end

-- Walks "api.a.b" down from the root; nil unless it ends at a function.
local function lookup(path)
  local node = { api = api }
  for name in path:gmatch('[^.]+') do
    node = type(node) == 'table' and rawget(node, name) or nil
  end
  return type(node) == 'function' and node or nil
end

local function reply(callback, ...)
  callback(mp.pack({ ... }))
end

-- packed: one MessagePack array, the dotted path and then the arguments.
-- Answered with [true, results...] or [false, message].
function preload.forwardPlateCall(callback, packed)
  local unpacked, call = pcall(mp.unpack, packed)
  if not unpacked or type(call) ~= 'table' or type(call[1]) ~= 'string' then
    return reply(callback, false, 'not a packed call')
  end
  local f = lookup(call[1])
  if not f then return reply(callback, false, 'no function ' .. call[1]) end
  local outcome = { pcall(f, unpack(call, 2, table.maxn(call))) }
  if not outcome[1] then return reply(callback, false, tostring(outcome[2])) end
  reply(callback, true, unpack(outcome, 2, table.maxn(outcome)))
end

return preload
