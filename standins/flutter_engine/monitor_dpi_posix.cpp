#include "standins/flutter_engine/monitor_dpi.h"

namespace halvix::flutter_engine {

// The headless window system's one monitor has Windows' base DPI.
UINT systemMonitorDpi(HMONITOR) { return 96; }

}  // namespace halvix::flutter_engine
