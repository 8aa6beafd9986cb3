#pragma once
// The engine library's functions as the client wrapper and its hosts reach
// them: through one table, filled at the first engine call from the library
// that the host's resolver loads. Nothing links against the engine, so the
// host decides at run time which file it is.
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "platform/dynamic_library.h"
#include "platform/flutter_api/flutter_windows.h"
#include "platform/flutter_api/stand_in_api.h"

// Every engine function in the table, by its exported name.
#define HALVIX_FLUTTER_DESKTOP_FUNCTIONS(X)       \
  X(FlutterDesktopEngineCreate)                   \
  X(FlutterDesktopEngineDestroy)                  \
  X(FlutterDesktopEngineGetPluginRegistrar)       \
  X(FlutterDesktopEngineGetMessenger)             \
  X(FlutterDesktopEngineReloadSystemFonts)        \
  X(FlutterDesktopViewControllerCreate)           \
  X(FlutterDesktopViewControllerDestroy)          \
  X(FlutterDesktopViewControllerGetView)          \
  X(FlutterDesktopViewControllerHandleTopLevelWindowProc) \
  X(FlutterDesktopViewGetHWND)                    \
  X(FlutterDesktopMessengerSend)                  \
  X(FlutterDesktopMessengerSendWithReply)         \
  X(FlutterDesktopMessengerSendResponse)          \
  X(FlutterDesktopMessengerSetCallback)           \
  X(FlutterDesktopPluginRegistrarGetMessenger)    \
  X(FlutterDesktopPluginRegistrarSetDestructionHandler) \
  X(FlutterDesktopPluginRegistrarGetView)         \
  X(FlutterDesktopRegistrarGetTextureRegistrar)   \
  X(FlutterDesktopTextureRegistrarRegisterExternalTexture) \
  X(FlutterDesktopTextureRegistrarUnregisterExternalTexture) \
  X(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable) \
  X(FlutterDesktopResyncOutputStreams)            \
  X(FlutterDesktopGetDpiForMonitor)

// The messenger's reference count, lock and availability, which older
// engines lack: looked up when first needed, and kept by the wrapper itself
// (messenger_references.h) unless the engine exports all five.
#define HALVIX_FLUTTER_DESKTOP_MESSENGER_REFERENCES(R) \
  R(FlutterDesktopMessengerAddRef)                     \
  R(FlutterDesktopMessengerRelease)                    \
  R(FlutterDesktopMessengerIsAvailable)                \
  R(FlutterDesktopMessengerLock)                       \
  R(FlutterDesktopMessengerUnlock)

namespace flutter {

// One pointer per engine function, named like the function.
struct FlutterDesktopApi {
#define HALVIX_FLUTTER_DESKTOP_ENTRY(name) decltype(&::name) name = nullptr;
  HALVIX_FLUTTER_DESKTOP_FUNCTIONS(HALVIX_FLUTTER_DESKTOP_ENTRY)
  HALVIX_FLUTTER_DESKTOP_MESSENGER_REFERENCES(HALVIX_FLUTTER_DESKTOP_ENTRY)
#undef HALVIX_FLUTTER_DESKTOP_ENTRY
  // Our engine stand-in's only; null with Flutter's own engine, which keeps
  // a message that is never answered.
  decltype(&::HalvixFlutterMessengerDiscardResponse) HalvixFlutterMessengerDiscardResponse = nullptr;
};

// The engine library could not be loaded, or lacks a function.
class EngineLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Finds and loads the engine library; a closed result says why in error().
using EngineLibraryResolver = std::function<halvix::platform::DynamicLibrary()>;

// Installs the resolver that the first engine call uses. Until the table is
// filled a later resolver replaces an earlier one; afterwards nothing changes.
void SetEngineLibraryResolver(EngineLibraryResolver resolver);

// The table. The first call loads the library through the resolver and looks
// up every function; the library then stays loaded for the rest of the
// process. Throws EngineLoadError when no resolver is installed, the library
// does not load or a function is missing; the next call tries again. Any
// thread; the resolver runs under a lock and must not call back in here.
const FlutterDesktopApi& EngineApi();

// Finds an exported function of the loaded engine that not every engine
// has; null when it is missing. Called only after a first engine call.
using OptionalEngineLookup = std::function<void*(const char* name)>;

// For an executable that imports the engine's functions itself (on Windows
// through the delay-load table, so that the first call into any of them
// loads the library): the table is those functions, and the messenger's
// reference functions come through `lookup`. Nothing changes once the table
// is filled.
void UseImportedEngineFunctions(const FlutterDesktopApi& functions, OptionalEngineLookup lookup);

// For tools and tests: installs a resolver that loads the library at `path`
// and fills the table now. Throws EngineLoadError as above, or when the table
// already comes from another file.
void UseEngineLibrary(const std::filesystem::path& path);

}  // namespace flutter
