#pragma once
// A Lua application standing in for the lamp control of the maker's
// application, for driving colour forwarding through a real activation.
//
// Lamp calls are logged; lamp "C" answers [true, false, "lamp offline"],
// every other lamp [true, true]. The packed-data call answers [true, reply] with the
// reply last set, or [false, "no datagram"] when none is set. Plain-text
// control calls (answered with an empty string):
//   "reply:<bytes>"  sets the packed-data reply;  "noreply" clears it
//   "hold"           the next packed-data call is answered only by "release"
//   "slow:<ms>"      every lamp call takes that long from then on
//   "dump"           answers the logged calls as a MessagePack array and clears the log
#include <memory>
#include <string>
#include <vector>

#include "sdk/corvel_native.h"
#include "tests/support/hot_dev_app.h"

namespace halvix::test {

// The application in a developer tree of its own, with Debian's
// lua-MessagePack beside it as base.MessagePack (hot-development mode
// preloads no built-in module).
std::unique_ptr<HotDevApp> makeLampApp();

// Sends a control call through the channel overload and waits for its answer.
std::string controlCall(sdk::CorvelNative& native, const std::string& packed);
// The packed calls the application received since the last dump, in order.
std::vector<std::string> receivedCalls(sdk::CorvelNative& native);

}  // namespace halvix::test
