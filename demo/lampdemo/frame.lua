-- The lamp frame: the one datagram a lamp understands. Its layout is written
-- out in demo/README.md; tools/lampsim/lamp_frame.h reads the same bytes.
-- All multi-byte fields are big-endian.
local frame = {}

frame.MAGIC = 0x4C46   -- the bytes "LF"
frame.VERSION = 1
frame.MAX_ID = 255     -- the identifier's length prefix is one byte

-- The fields up to the checksum: magic, version, identifier with a one-byte
-- length, red, green, blue, the lamp's 32-bit sequence number and the send
-- time in microseconds.
local BODY = '>HbpbbbIu'

-- Microseconds since the Unix epoch on the wall clock (CLOCK_REALTIME): the
-- only clock the host's modules offer (zacc.timestamp).
function frame.nowMicros()
  return math.floor(zacc.timestamp() * 1e6)
end

function frame.build(id, r, g, b, seq, sentMicros)
  local body = zpack(BODY, frame.MAGIC, frame.VERSION, id, r, g, b, seq, sentMicros)
  return body .. zpack('>H', zcrc16(0xFFFF, body))
end

return frame
