-- The lamps this application drives: the configured list, one UDP socket for
-- sending, and each lamp's sequence number. api.razerkit.razer_halvix_control
-- is the host's way in.
local socket = require('socket')
local config = require('lampdemo.config')
local frame = require('lampdemo.frame')
local wled = require('lampdemo.wled')

local lamps = { configured = { lamps = {} } }
local problem        -- why the lamp list could not be read, if it could not
local sender
local nextSeq = {}   -- identifier -> sequence number of the lamp's next frame
local lastFailureLog = {}  -- identifier -> when its failure was last logged

-- A lamp that stays unreachable would otherwise fill the log ten times a second.
local FAILURE_LOG_SECONDS = 60

local function log(text) print('lampdemo: ' .. text) end

-- Reads the lamp list. A missing or unreadable file leaves no lamps, so that
-- every call is answered with a reason instead of the application failing;
-- a bad line is logged and skipped, and the other lamps run.
function lamps.start(path)
  lamps.configured = { lamps = {} }
  nextSeq = {}
  lastFailureLog = {}
  local loaded, err = config.load(path)
  problem = err
  if not loaded then
    log('no lamps: ' .. err)
    return false
  end
  for _, skipped in ipairs(loaded.problems) do log('line skipped: ' .. skipped) end
  lamps.configured = loaded
  log(string.format('%d lamp(s)%s from %s', #loaded.order,
                    loaded.broadcast and (', broadcast lamp ' .. loaded.broadcast.id) or '', path))
  return true
end

local function component(colour, key)
  local v = colour[key]
  if type(v) ~= 'number' or v ~= math.floor(v) or v < 0 or v > 255 then return nil end
  return v
end

local function rgb(colour)
  local r, g, b = component(colour, 'r'), component(colour, 'g'), component(colour, 'b')
  if not (r and g and b) then return nil, 'colour needs r, g and b from 0 to 255' end
  return r, g, b
end

-- The datagrams that give `lamp` the colour.
local function datagramsFor(lamp, r, g, b)
  if lamp.protocol == 'wled' then return wled.packets(lamp.leds, lamp.timeout, r, g, b) end
  local seq = nextSeq[lamp.id] or 0
  nextSeq[lamp.id] = (seq + 1) % 4294967296
  return { frame.build(lamp.id, r, g, b, seq, frame.nowMicros()) }
end

local function sendOne(lamp, payload)
  local sent, err = sender:sendto(payload, lamp.address, lamp.port)
  -- Where the system reports a lamp's "port unreachable" on the shared
  -- socket, it does so on a later send, which may be to another lamp: that
  -- send is tried once more.
  if not sent and err == 'connection refused' then sent, err = sender:sendto(payload, lamp.address, lamp.port) end
  return sent, err
end

local function send(lamp, datagrams)
  if not sender then
    local udp, err = socket.udp()
    if not udp then return nil, 'no socket: ' .. tostring(err) end
    udp:settimeout(0)
    sender = udp
  end
  for _, payload in ipairs(datagrams) do
    local sent, err = sendOne(lamp, payload)
    if not sent then
      local why = 'sending to lamp ' .. lamp.id .. ' failed: ' .. tostring(err)
      local now = socket.gettime()
      if not lastFailureLog[lamp.id] or now - lastFailureLog[lamp.id] >= FAILURE_LOG_SECONDS then
        lastFailureLog[lamp.id] = now
        log(why)
      end
      return nil, why
    end
  end
  return true
end

local methods = {}

function methods.setColorWithoutResponse(id, colour)
  local lamp = lamps.configured.lamps[id]
  if not lamp then return false, 'unknown lamp ' .. tostring(id) end
  local r, g, b = rgb(colour)
  if not r then return false, g end
  local ok, sendErr = send(lamp, datagramsFor(lamp, r, g, b))
  if not ok then return false, sendErr end
  return true
end

-- The host sends this datagram itself, to the broadcast address's subnet: for
-- a WLED lamp one DRGB packet, which every WLED lamp listening there takes.
function methods.setColorWithoutResponsePackedData(id, colour)
  local lamp = lamps.configured.broadcast
  if not lamp or lamp.id ~= id then return false, 'unknown broadcast lamp ' .. tostring(id) end
  local r, g, b = rgb(colour)
  if not r then return false, g end
  local payload = lamp.protocol == 'wled' and wled.drgb(lamp.leds, lamp.timeout, r, g, b) or
                  datagramsFor(lamp, r, g, b)[1]
  return lamp.address .. '\t' .. lamp.port .. '\t' .. payload
end

function lamps.control(method, id, colour)
  local f = methods[method]
  if not f then return false, 'unknown method ' .. tostring(method) end
  if problem then return false, 'no lamps: ' .. problem end
  if type(colour) ~= 'table' then return false, 'colour must be a map' end
  return f(id, colour)
end

return lamps
