-- The lamps this application drives: the configured list, one UDP socket for
-- sending, and each lamp's sequence number. api.razerkit.razer_halvix_control
-- is the host's way in.
local socket = require('socket')
local config = require('lampdemo.config')
local frame = require('lampdemo.frame')

local lamps = { configured = { lamps = {} } }
local problem        -- why the lamp list could not be read, if it could not
local sender
local nextSeq = {}   -- identifier -> sequence number of the lamp's next frame

local function log(text) print('lampdemo: ' .. text) end

-- Reads the lamp list; a missing or malformed file leaves no lamps, so that
-- every call is answered with a reason instead of the application failing.
function lamps.start(path)
  lamps.configured = { lamps = {} }
  nextSeq = {}
  local loaded, err = config.load(path)
  problem = err
  if not loaded then
    log('no lamps: ' .. err)
    return false
  end
  lamps.configured = loaded
  local count = 0
  for _ in pairs(loaded.lamps) do count = count + 1 end
  log(string.format('%d lamp(s)%s from %s', count,
                    loaded.broadcast and (', broadcast lamp ' .. loaded.broadcast.id) or '', path))
  return true
end

local function component(colour, key)
  local v = colour[key]
  if type(v) ~= 'number' or v ~= math.floor(v) or v < 0 or v > 255 then return nil end
  return v
end

local function frameFor(lamp, colour)
  local r, g, b = component(colour, 'r'), component(colour, 'g'), component(colour, 'b')
  if not (r and g and b) then return nil, 'colour needs r, g and b from 0 to 255' end
  local seq = nextSeq[lamp.id] or 0
  nextSeq[lamp.id] = (seq + 1) % 4294967296
  return frame.build(lamp.id, r, g, b, seq, frame.nowMicros())
end

local function send(lamp, payload)
  if not sender then
    local udp, err = socket.udp()
    if not udp then return nil, 'no socket: ' .. tostring(err) end
    udp:settimeout(0)
    sender = udp
  end
  local sent, err = sender:sendto(payload, lamp.address, lamp.port)
  if not sent then return nil, 'sending to lamp ' .. lamp.id .. ' failed: ' .. tostring(err) end
  return true
end

local methods = {}

function methods.setColorWithoutResponse(id, colour)
  local lamp = lamps.configured.lamps[id]
  if not lamp then return false, 'unknown lamp ' .. tostring(id) end
  local payload, err = frameFor(lamp, colour)
  if not payload then return false, err end
  local ok, sendErr = send(lamp, payload)
  if not ok then return false, sendErr end
  return true
end

-- The host sends this datagram itself, to the broadcast address's subnet.
function methods.setColorWithoutResponsePackedData(id, colour)
  local lamp = lamps.configured.broadcast
  if not lamp or lamp.id ~= id then return false, 'unknown broadcast lamp ' .. tostring(id) end
  local payload, err = frameFor(lamp, colour)
  if not payload then return false, err end
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
