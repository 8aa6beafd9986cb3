#include "host/host_main.h"

#include <cstdio>

#include "host/flutter_window.h"
#include "platform/sockets_startup.h"

namespace halvix::host {

sdk::SdkDirectories sdkDirectoriesFrom(const std::vector<std::string>& arguments) {
  sdk::SdkDirectories directories;
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "--drive-root") directories.driveRoot = arguments[++i];
    else if (arguments[i] == "--current-dir") directories.currentDir = arguments[++i];
  }
  return directories;
}

int runHost(const std::vector<std::string>& arguments, const HostHooks& hooks) {
  auto startSockets = hooks.startSockets ? hooks.startSockets : platform::socketsStartup;
  if (int error = startSockets()) {
    std::printf("Windows socket initialize failed(WSAStartup): %d\n", error);
    std::fflush(stdout);
    return 1;
  }

  flutter::DartProject project(L"data");
  project.set_dart_entrypoint_arguments(arguments);

  FlutterWindow window(project, sdkDirectoriesFrom(arguments));
  if (!window.CreateAndShow(L"Halvix", Win32Window::Point{10, 10}, Win32Window::Size{1024, 768})) return 1;
  window.SetQuitOnClose(true);
  if (hooks.onWindow) hooks.onWindow(window.GetHandle());

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (hooks.onWindow) hooks.onWindow(nullptr);

  platform::socketsCleanup();
  return 0;
}

}  // namespace halvix::host
