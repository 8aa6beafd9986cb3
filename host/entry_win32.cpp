// The process entry on Windows: the instance handle, the UTF-16 command
// line, the console, COM, then the host's life (sockets, window, loop).
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/engine_load_hook_win32.h"
#include "host/engine_loading.h"
#include "host/host_main.h"
#include "platform/console.h"
#include "platform/flutter/engine_api.h"
#include "sdk/corvel_native.h"

namespace {

// An argument that is not valid UTF-16 (an unpaired surrogate) becomes an
// empty string rather than a mangled one.
std::string utf8FromArgument(const wchar_t* argument) {
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argument, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string text(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argument, -1, text.data(), length, nullptr, nullptr) != length)
    return std::string();
  text.resize(static_cast<std::size_t>(length) - 1);
  return text;
}

std::vector<std::string> commandLineArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  if (split == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(utf8FromArgument(split[i]));
  LocalFree(split);
  return arguments;
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  halvix::host::setModuleInstance(instance);
  halvix::host::installEngineLoading();
  const std::vector<std::string> arguments = commandLineArguments();

  bool console = halvix::platform::debuggerAttached();
  for (const std::string& argument : arguments) console = console || argument == "--console";
  if (console && halvix::platform::openConsole() == halvix::platform::ConsoleOpened::kCreated) {
    // The engine keeps C streams of its own, still pointing at nothing.
    flutter::EngineApi().FlutterDesktopResyncOutputStreams();
  }

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = halvix::host::runHost(arguments);
  // A window that could not be created ends the process without this
  // clean-up, as sockets and COM end with it anyway.
  if (status == 0) CoUninitialize();
  std::fflush(nullptr);
  // A worker stuck in the Lua application still uses the process: leave
  // without static destructors or library detach routines running under it
  // (one of them could wait for a lock it holds).
  if (halvix::sdk::abandonedSdkWorkers() > 0) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  return status;
}
