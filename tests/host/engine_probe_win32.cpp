// Stands in for the engine library in the delay-load tests: the one engine
// function they call, answering a number no real monitor has.
#include <windows.h>

extern "C" __declspec(dllexport) UINT FlutterDesktopGetDpiForMonitor(HMONITOR) { return 4321; }
