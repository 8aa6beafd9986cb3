-- Opens the application bundle and makes `require` and `loadfile` read from it.
LogLevel_None = 0
LogLevel_Info = 1
LogLevel_Debug = 2
LogLevel = LogLevel_Debug

local make_readable = require('make_readable')

local M = {}

-- Returns the bundle's LuaLibFile, which stays open for the life of the state.
function M.setupLoader(binFn)
  local classes = make_readable.createLibClasses()
  local loader = classes.LuaLibFile.new()
  if loader:loadFromFile(binFn) ~= true then
    error("load from file failed:" .. tostring(binFn), 0)
  end
  make_readable.setupLoader(loader)
  make_readable.DbgPrint("setupLoader to file succeed:" .. tostring(binFn))
  return loader
end

return M
