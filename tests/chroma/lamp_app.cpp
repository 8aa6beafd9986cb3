#include "tests/chroma/lamp_app.h"

#include <msgpack.hpp>

#include "tests/support/host_process.h"

namespace halvix::test {
namespace {

const char* const kLampApp = R"LUA(
local mp = require 'base.MessagePack'
local M = { calls = {} }
function M.initLuaApp() end
function M.forwardPlateCall(cb, packed)
  if packed == 'dump' then cb(mp.pack(M.calls)) M.calls = {} return end
  if packed == 'hold' then M.hold = true cb('') return end
  if packed == 'noreply' then M.reply = nil cb('') return end
  if packed == 'release' then
    local held = M.held
    M.held = nil
    held(mp.pack({ true, M.reply }))
    cb('')
    return
  end
  if packed:sub(1, 6) == 'reply:' then M.reply = packed:sub(7) cb('') return end
  if packed:sub(1, 5) == 'slow:' then M.slow = tonumber(packed:sub(6)) cb('') return end
  M.calls[#M.calls + 1] = packed
  local call = mp.unpack(packed)
  if call[2] == 'setColorWithoutResponse' then
    if M.slow then require('socket').sleep(M.slow / 1000) end
    if call[3] == 'C' then cb(mp.pack({ true, false, 'lamp offline' })) else cb(mp.pack({ true, true })) end
  elseif M.hold then
    M.hold, M.held = false, cb
  elseif M.reply == nil then
    cb(mp.pack({ false, 'no datagram' }))
  else
    cb(mp.pack({ true, M.reply }))
  end
end
return M
)LUA";

}  // namespace

std::unique_ptr<HotDevApp> makeLampApp() {
  auto app = std::make_unique<HotDevApp>(kLampApp);
  app->write("base/MessagePack.lua", readWholeFile(HALVIX_MESSAGEPACK_LUA));
  return app;
}

std::string controlCall(sdk::CorvelNative& native, const std::string& packed) {
  Collector answers;
  native.forwardPlateCall([&answers](const std::vector<std::string>& r) { answers.add(r.empty() ? "" : r.front()); },
                          packed);
  return answers.waitFor(1) ? answers.items().front() : "no answer";
}

std::vector<std::string> receivedCalls(sdk::CorvelNative& native) {
  const std::string dump = controlCall(native, "dump");
  msgpack::object_handle handle = msgpack::unpack(dump.data(), dump.size());
  std::vector<std::string> calls;
  // An empty Lua table may be written as an empty map.
  if (handle.get().type == msgpack::type::ARRAY) handle.get().convert(calls);
  return calls;
}

}  // namespace halvix::test
