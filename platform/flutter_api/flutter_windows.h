#pragma once
// The engine library's C interface: the FlutterDesktop... functions the host
// uses for engines, messaging and plugin registration, with the signatures
// of Flutter's desktop embedding API. Nothing links against them: the client
// wrapper calls them through a table filled when the engine library is
// loaded (platform/flutter/engine_api.h).
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
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

#ifdef __cplusplus
}  // extern "C"
#endif
