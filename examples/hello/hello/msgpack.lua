-- MessagePack for the application: the host's built-in copy in normal mode,
-- Debian's lua-messagepack on the search path in hot-development mode.
local ok, mp = pcall(require, 'base.MessagePack')
if not ok then mp = require('MessagePack') end
return mp
