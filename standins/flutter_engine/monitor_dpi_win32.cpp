#include "standins/flutter_engine/monitor_dpi.h"

#include "platform/dynamic_library.h"

namespace halvix::flutter_engine {

UINT systemMonitorDpi(HMONITOR monitor) {
  // Each monitor's own DPI from Windows 8.1 on (shcore); before that only
  // the system's, which the screen's device context reports.
  if (monitor) {
    platform::DynamicLibrary shcore = platform::DynamicLibrary::open("shcore.dll");
    using GetDpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    UINT x = 0;
    UINT y = 0;
    if (auto get = shcore.isOpen() ? shcore.function<GetDpiForMonitor>("GetDpiForMonitor") : nullptr;
        get && SUCCEEDED(get(monitor, kEffectiveDpi, &x, &y)) && x > 0)
      return x;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace halvix::flutter_engine
