-- What the hello application offers to packed calls.
local api = { hello = { tickCount = 0, started = false }, razerkit = {} }

function api.hello.greet(name)
  return 'hello, ' .. tostring(name)
end

function api.hello.add(a, b)
  return a + b
end

function api.hello.echo(...)
  return ...
end

function api.hello.ticks()
  return api.hello.tickCount
end

function api.hello.fail(message)
  error(message or 'failed on request', 0)
end

-- The lamps of this example are simulated: colours are remembered per lamp.
local lamps = {}

function api.razerkit.razer_halvix_control(method, id, colour)
  if type(colour) ~= 'table' then return false, 'colour must be a map' end
  if method == 'setColorWithoutResponse' then
    lamps[id] = { colour.r, colour.g, colour.b }
    return true
  elseif method == 'setColorWithoutResponsePackedData' then
    local payload = string.char(0x48, 0x56, colour.r or 0, colour.g or 0, colour.b or 0)
    return '127.0.0.1\t4000\t' .. payload
  end
  return false, 'unknown method ' .. tostring(method)
end

function api.razerkit.colour_of(id)
  local c = lamps[id]
  if not c then return nil end
  return c[1], c[2], c[3]
end

return api
