-- WLED's realtime UDP protocol, as its documentation describes it: byte 0
-- the protocol, byte 1 how many seconds the lamp stays in realtime mode
-- after the last packet (255: until told otherwise), then the LEDs.
local wled = {}

wled.PORT = 21324
wled.MAX_LEDS = 1500
wled.DEFAULT_TIMEOUT = 2

local DRGB, DNRGB = 2, 4
-- The most LEDs one packet of each kind carries.
wled.DRGB_LEDS = 490
wled.DNRGB_LEDS = 489

-- One DRGB packet setting LEDs 0 to leds - 1 (at most DRGB_LEDS) to one colour.
function wled.drgb(leds, timeout, r, g, b)
  return zpack('bb', DRGB, timeout) .. zpack('bbb', r, g, b):rep(math.min(leds, wled.DRGB_LEDS))
end

-- The packets that set all `leds` LEDs to one colour: one DRGB packet while
-- it can carry them, else DNRGB packets, each with its first LED's index.
function wled.packets(leds, timeout, r, g, b)
  if leds <= wled.DRGB_LEDS then return { wled.drgb(leds, timeout, r, g, b) } end
  local rgb = zpack('bbb', r, g, b)
  local packets = {}
  for start = 0, leds - 1, wled.DNRGB_LEDS do
    local count = math.min(wled.DNRGB_LEDS, leds - start)
    packets[#packets + 1] = zpack('>bbH', DNRGB, timeout, start) .. rgb:rep(count)
  end
  return packets
end

return wled
