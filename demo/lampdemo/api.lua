-- The functions packed calls may name, by dotted path from "api".
local lamps = require('lampdemo.lamps')

local api = { razerkit = {} }

function api.razerkit.razer_halvix_control(method, lampId, colour)
  return lamps.control(method, lampId, colour)
end

return api
