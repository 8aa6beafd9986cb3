#pragma once
// The SDK's diagnostic lines: numeric levels, a line below level 50 dropped,
// standard output until the SDK plugin is registered and the console after.
#include <lua.hpp>

namespace halvix::sdk {

inline constexpr int kSdkLogMinLevel = 50;
inline constexpr int kLuaPrintLevel = 100;

// printf-style; the formatted text is cut to 4095 bytes and written verbatim.
void sdkLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The Lua state's replacement for print.
int luaPrint(lua_State* L);

}  // namespace halvix::sdk
