-- lua-MessagePack: preloaded by the host in normal mode as base.MessagePack;
-- Debian's copy on the search path when run from the source tree.
local found, mp = pcall(require, 'base.MessagePack')
return found and mp or require('MessagePack')
