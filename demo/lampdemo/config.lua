-- The lamp list: one lamp a line,
--   identifier address port [lf | wled LEDS [TIMEOUT]]
-- and the lamp reached by LAN broadcast as the same line after "broadcast".
-- "#" starts a comment. tools/lampsim/lamp_config.h describes the rules;
-- lampsim reads the same format, but refuses a whole file for one bad line,
-- where this application skips the line and drives the other lamps.
local frame = require('lampdemo.frame')
local wled = require('lampdemo.wled')

local config = {}

-- A list is a handful of lines; more than this is the wrong file (or
-- /dev/zero), refused before it fills memory.
config.MAX_BYTES = 1024 * 1024

local function ipv4(text)
  local a, b, c, d = text:match('^(%d+)%.(%d+)%.(%d+)%.(%d+)$')
  if not a then return false end
  for _, part in ipairs({ a, b, c, d }) do
    if #part > 3 or tonumber(part) > 255 then return false end
  end
  return true
end

-- 1 to `maxDigits` decimal digits from `low` to `high`, else nil.
local function number(text, maxDigits, low, high)
  if #text > maxDigits or not text:match('^%d+$') then return nil end
  local n = tonumber(text)
  if n >= low and n <= high then return n end
  return nil
end

local function port(text) return number(text, 5, 1, 65535) end

-- The first control character in a word (C0, DEL, or C1 spelt in UTF-8) as
-- "U+XXXX", if any: names and values are echoed to the host's log.
local function controlCharacter(word)
  for i = 1, #word do
    local c, nextByte = word:byte(i, i + 1)
    if c < 0x20 or c == 0x7F then return string.format('U+%04X', c) end
    if c == 0xC2 and nextByte and nextByte >= 0x80 and nextByte <= 0x9F then
      return string.format('U+%04X', nextByte)
    end
  end
  return nil
end

local function lamp(words, expected)
  local id, address, portText, protocol = words[1], words[2], words[3], words[4]
  if #id > frame.MAX_ID then return nil, 'identifier longer than ' .. frame.MAX_ID .. ' bytes' end
  if not ipv4(address) then return nil, 'bad IPv4 address ' .. address end
  local p = port(portText)
  if not p then return nil, 'bad port ' .. portText end
  local entry = { id = id, address = address, port = p, protocol = 'lf' }
  if #words == 3 or (protocol == 'lf' and #words == 4) then return entry end
  if protocol ~= 'lf' and protocol ~= 'wled' then return nil, 'unknown protocol ' .. protocol .. ' (lf or wled)' end
  if protocol == 'lf' or #words < 5 or #words > 6 then return nil, expected end
  entry.protocol, entry.leds, entry.timeout = 'wled', number(words[5], 4, 1, wled.MAX_LEDS), wled.DEFAULT_TIMEOUT
  if not entry.leds then return nil, 'LED count ' .. words[5] .. ' out of range (1 to ' .. wled.MAX_LEDS .. ')' end
  if words[6] then
    entry.timeout = number(words[6], 3, 1, 255)
    if not entry.timeout then return nil, 'bad timeout ' .. words[6] .. ' (1 to 255 seconds)' end
  end
  return entry
end

-- The lamp already listed at the same address and port, when either is a
-- WLED lamp: its datagrams carry no identifier to tell the two apart.
local function sharedWledEndpoint(result, entry)
  local function clash(other)
    return other.address == entry.address and other.port == entry.port and
           (other.protocol == 'wled' or entry.protocol == 'wled')
  end
  for _, other in ipairs(result.order) do
    if clash(other) then return other end
  end
  if result.broadcast and clash(result.broadcast) then return result.broadcast end
  return nil
end

-- Adds a lamp read from a line; the reason when it cannot be added.
local function add(result, entry, isBroadcast)
  if result.lamps[entry.id] or (result.broadcast and result.broadcast.id == entry.id) then
    return 'lamp ' .. entry.id .. ' listed twice'
  end
  local other = sharedWledEndpoint(result, entry)
  if other then
    return string.format('lamp %s shares %s:%d with lamp %s', entry.id, entry.address, entry.port, other.id)
  end
  if isBroadcast then
    if result.broadcast then return 'a second broadcast lamp' end
    result.broadcast = entry
  else
    result.lamps[entry.id] = entry
    result.order[#result.order + 1] = entry
  end
  return nil
end

-- Returns { lamps = {id -> lamp}, order = {lamp, ...}, broadcast = lamp or
-- nil, problems = {"<where>:<line>: <reason>", ...} }: a bad line is skipped
-- and named in `problems`, and the other lamps are kept.
function config.parse(text, where)
  local result = { lamps = {}, order = {}, problems = {} }
  local lineNumber = 0
  for line in (text .. '\n'):gmatch('([^\n]*)\n') do
    lineNumber = lineNumber + 1
    local words = {}
    for word in line:gsub('#.*', ''):gmatch('%S+') do words[#words + 1] = word end
    local why
    for _, word in ipairs(words) do
      local c = controlCharacter(word)
      if c then
        why = 'control character ' .. c
        break
      end
    end
    if #words > 0 and not why then
      local isBroadcast = words[1] == 'broadcast'
      if isBroadcast then table.remove(words, 1) end
      local expected = 'expected "' .. (isBroadcast and 'broadcast ' or '') ..
                       'identifier address port [lf | wled LEDS [TIMEOUT]]"'
      local entry
      if #words < 3 then
        why = expected
      else
        entry, why = lamp(words, expected)
      end
      if entry then why = add(result, entry, isBroadcast) end
    end
    if why then result.problems[#result.problems + 1] = where .. ':' .. lineNumber .. ': ' .. why end
  end
  return result
end

function config.load(path)
  local file, err = io.open(path, 'rb')
  if not file then return nil, 'cannot read ' .. tostring(err) end
  -- One byte past the limit tells a list of exactly MAX_BYTES from a longer one.
  local text, readErr = file:read(config.MAX_BYTES + 1)
  file:close()
  if not text and readErr then return nil, 'cannot read ' .. path .. ': ' .. readErr end
  text = text or ''
  if #text > config.MAX_BYTES then return nil, path .. ': longer than 1 MiB' end
  return config.parse(text, path)
end

return config
