#pragma once
// The engine library's C interface: the FlutterDesktop... functions the host
// uses for engines, views, messaging and plugin registration, with the
// signatures of Flutter's desktop embedding API. Nothing links against them: the client
// wrapper calls them through a table filled when the engine library is
// loaded (platform/flutter/engine_api.h).
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

// Exported from the engine library, a DLL on Windows; only declarations for
// the client wrapper, which never links against it.
#if defined(_WIN32)
#define FLUTTER_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define FLUTTER_EXPORT __attribute__((visibility("default")))
#else
#define FLUTTER_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct _FlutterPlatformMessageResponseHandle FlutterDesktopMessageResponseHandle;
typedef struct FlutterDesktopViewControllerState* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopTextureRegistrar* FlutterDesktopTextureRegistrarRef;
typedef struct FlutterDesktopTextureInfo FlutterDesktopTextureInfo;

typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  const char* dart_entrypoint;
  int dart_entrypoint_argc;
  const char** dart_entrypoint_argv;
} FlutterDesktopEngineProperties;

typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);
typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message, void* user_data);
typedef void (*FlutterDesktopOnPluginRegistrarDestroyed)(FlutterDesktopPluginRegistrarRef registrar);

// Null when the engine cannot be created.
FLUTTER_EXPORT FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);
// Destroys the registrar (running its destruction handler) and the engine.
FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                                      const char* plugin_name);
FLUTTER_EXPORT FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);

// False when the message could not be sent.
FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                                const uint8_t* message, const size_t message_size);
// As above; `reply` runs once on the platform thread with the answer.
FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                                         const uint8_t* message, const size_t message_size,
                                                         const FlutterDesktopBinaryReply reply, void* user_data);
// Answers a message delivered to a callback; each handle at most once.
FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                                        const FlutterDesktopMessageResponseHandle* handle,
                                                        const uint8_t* data, size_t data_length);
// Installs (or, with a null callback, removes) the handler of a channel.
// Handlers run on the platform thread.
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                                       FlutterDesktopMessageCallback callback, void* user_data);

// The messenger is reference-counted and may outlive its engine: whoever
// answers from another thread keeps a reference, locks the messenger, checks
// that the engine is still available and only then sends the response.
FLUTTER_EXPORT FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
// False once the engine has been destroyed. Call with the messenger locked.
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);
// While locked, the engine is not destroyed.
FLUTTER_EXPORT FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

FLUTTER_EXPORT FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar);
FLUTTER_EXPORT void FlutterDesktopPluginRegistrarSetDestructionHandler(FlutterDesktopPluginRegistrarRef registrar,
                                                                       FlutterDesktopOnPluginRegistrarDestroyed callback);
FLUTTER_EXPORT FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(FlutterDesktopPluginRegistrarRef registrar);
FLUTTER_EXPORT FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

// Runs the engine and gives it a view of the given size; the controller owns
// the engine from then on, also when creation fails (null).
FLUTTER_EXPORT FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                                FlutterDesktopEngineRef engine);
// Destroys the view and the engine.
FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller);
FLUTTER_EXPORT FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
// Offers a message of the top-level window to the engine; true (with
// *result set) when the engine handled it.
FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef controller,
                                                                        HWND hwnd, UINT message, WPARAM wparam,
                                                                        LPARAM lparam, LRESULT* result);
FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);
FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);

FLUTTER_EXPORT int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, const FlutterDesktopTextureInfo* info);
FLUTTER_EXPORT void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id, void (*callback)(void* user_data),
    void* user_data);
FLUTTER_EXPORT bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id);

// After the process's standard streams were reopened (a new console).
FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams(void);
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);

#ifdef __cplusplus
}  // extern "C"
#endif
