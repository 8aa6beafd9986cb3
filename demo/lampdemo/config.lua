-- The lamp list: one lamp a line, "identifier address port"; the lamp that is
-- reached by LAN broadcast as "broadcast identifier address port". "#" starts
-- a comment. tools/lampsim/lamp_config.cpp reads the same format.
local frame = require('lampdemo.frame')

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

local function port(text)
  local n = text:match('^%d+$') and tonumber(text)
  if n and n >= 1 and n <= 65535 then return n end
  return nil
end

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

local function lamp(words)
  local id, address, portText = words[1], words[2], words[3]
  if #id > frame.MAX_ID then return nil, 'identifier longer than ' .. frame.MAX_ID .. ' bytes' end
  if not ipv4(address) then return nil, 'bad IPv4 address ' .. address end
  local p = port(portText)
  if not p then return nil, 'bad port ' .. portText end
  return { id = id, address = address, port = p }
end

-- Returns { lamps = {id -> lamp}, broadcast = lamp or nil }, or nil and
-- "<where>:<line>: <reason>". A file with one bad line is refused whole.
function config.parse(text, where)
  local result = { lamps = {} }
  local lineNumber = 0
  for line in (text .. '\n'):gmatch('([^\n]*)\n') do
    lineNumber = lineNumber + 1
    local words = {}
    for word in line:gsub('#.*', ''):gmatch('%S+') do words[#words + 1] = word end
    local function fail(reason) return nil, where .. ':' .. lineNumber .. ': ' .. reason end
    for _, word in ipairs(words) do
      local c = controlCharacter(word)
      if c then return fail('control character ' .. c) end
    end
    if #words > 0 then
      local isBroadcast = words[1] == 'broadcast'
      if isBroadcast then table.remove(words, 1) end
      if #words ~= 3 then
        return fail(isBroadcast and 'expected "broadcast identifier address port"' or
                    'expected "identifier address port"')
      end
      local entry, why = lamp(words)
      if not entry then return fail(why) end
      if result.lamps[entry.id] or (result.broadcast and result.broadcast.id == entry.id) then
        return fail('lamp ' .. entry.id .. ' listed twice')
      end
      if isBroadcast then
        if result.broadcast then return fail('a second broadcast lamp') end
        result.broadcast = entry
      else
        result.lamps[entry.id] = entry
      end
    end
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
