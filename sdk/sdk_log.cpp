#include "sdk/sdk_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "sdk/globals.h"

namespace halvix::sdk {

void sdkLog(int level, const char* format, ...) {
  if (level < kSdkLogMinLevel) return;
  // One buffer per thread: the platform thread and every worker may log at
  // the same time without sharing a buffer or taking a lock.
  thread_local char buffer[4096];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  std::size_t length = std::strlen(buffer);
  if (pluginRegistered()) {
    platform::consoleWrite(buffer, length);
  } else {
    std::fwrite(buffer, 1, length, stdout);
    std::fflush(stdout);
  }
}

int luaPrint(lua_State* L) {
  if (lua_type(L, 1) == LUA_TSTRING) {
    sdkLog(kLuaPrintLevel, "luaPrint:%s\n", lua_tostring(L, 1));
  } else {
    sdkLog(kLuaPrintLevel, "luaPrint:type error: only support string, got %s\n",
           lua_typename(L, lua_type(L, 1)));
  }
  return 0;
}

}  // namespace halvix::sdk
