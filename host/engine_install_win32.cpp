// The engine is imported through the delay-load table under its usual name;
// the first call into it loads the library, and the hook below decides which
// file that is.
#include <atomic>
#include <cstring>
#include <string>

#include "host/engine_load_hook_win32.h"
#include "host/engine_loading.h"
#include "platform/flutter/engine_api.h"

namespace halvix::host {

namespace {

// Process-wide, as the hook has no context of its own; written once by the
// entry point before anything calls into the engine.
HINSTANCE g_moduleInstance = nullptr;
// The engine module the delay-load runtime bound the imports to; the
// functions that not every engine exports are looked up there, never
// through the import table, where a missing one ends the process.
std::atomic<HMODULE> g_engineModule{nullptr};

void* optionalEngineFunction(const char* name) {
  HMODULE engine = g_engineModule.load();
  // A null module would mean the executable itself.
  return engine ? reinterpret_cast<void*>(GetProcAddress(engine, name)) : nullptr;
}

flutter::FlutterDesktopApi importedFunctions() {
  flutter::FlutterDesktopApi api;
#define HALVIX_FLUTTER_DESKTOP_IMPORT(name) api.name = &::name;
  HALVIX_FLUTTER_DESKTOP_FUNCTIONS(HALVIX_FLUTTER_DESKTOP_IMPORT)
#undef HALVIX_FLUTTER_DESKTOP_IMPORT
  // Our stand-in's own addition is not imported: a real engine lacks it.
  return api;
}

}  // namespace

void setModuleInstance(HINSTANCE instance) { g_moduleInstance = instance; }

FARPROC WINAPI engineLoadHook(unsigned notification, PDelayLoadInfo info) {
  if (info == nullptr || info->szDll == nullptr || _stricmp(info->szDll, kEngineLibraryName) != 0) return nullptr;
  // Whichever file was loaded, the runtime names it here before it looks up
  // the first function.
  if (notification == dliNotePreGetProcAddress && info->hmodCur != nullptr) g_engineModule.store(info->hmodCur);
  if (notification != dliNotePreLoadLibrary) return nullptr;
  char path[kModulePathBuffer] = {};
  const DWORD length = GetModuleFileNameA(g_moduleInstance, path, kModulePathBuffer);
  // A full buffer means a cut path, which could name another folder.
  if (length == 0 || length >= kModulePathBuffer) return nullptr;
  std::optional<std::string> shipped = shippedEnginePath(std::string(path, length));
  if (!shipped) return nullptr;
  return reinterpret_cast<FARPROC>(LoadLibraryA(shipped->c_str()));
}

void installEngineLoading() {
  __pfnDliNotifyHook2 = engineLoadHook;
  flutter::UseImportedEngineFunctions(importedFunctions(), optionalEngineFunction);
}

}  // namespace halvix::host
