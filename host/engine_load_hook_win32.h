#pragma once
// The delay-load runtime's notification hook that points the engine import
// ("flutter_windows.dll") at the file shipped beside the executable.
#include <windows.h>

// Has no include guard of its own: include it through this header only.
#include <delayimp.h>

namespace halvix::host {

// The module whose folder holds "support.dat"; the entry point keeps it.
void setModuleInstance(HINSTANCE instance);

// Before "flutter_windows.dll" is loaded: the shipped file from the module's
// folder, or null to let the runtime search for the library as usual.
FARPROC WINAPI engineLoadHook(unsigned notification, PDelayLoadInfo info);

}  // namespace halvix::host
