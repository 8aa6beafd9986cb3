#pragma once
// The DPI the system reports for a monitor: what the stand-in engine's
// FlutterDesktopGetDpiForMonitor answers when no test has set one.
#include "platform/flutter_api/flutter_windows.h"

namespace halvix::flutter_engine {

UINT systemMonitorDpi(HMONITOR monitor);

}  // namespace halvix::flutter_engine
