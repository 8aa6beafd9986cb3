#pragma once
// What the engine stand-in offers beyond Flutter's interface: how the host
// lends it the platform thread, and the messenger socket on which halvixctl
// and the tests play the Dart side. Plain C, so that a host resolves these by
// name from the loaded library like the FlutterDesktop... functions.
#include "platform/flutter_api/flutter_windows.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*HalvixFlutterTask)(void* task_context);

// The host's platform thread as the engine sees it. `post` queues
// task(task_context) to run later on the platform thread; it may be called
// from any thread until the last engine is destroyed. The host runs every
// posted task exactly once, in the order posted, also after the engine that
// posted it is gone (the task then does nothing but free itself).
typedef struct {
  size_t struct_size;  // sizeof(HalvixFlutterTaskRunner)
  void* host_context;
  void (*post)(void* host_context, HalvixFlutterTask task, void* task_context);
} HalvixFlutterTaskRunner;

// Sets the platform thread of the engines created from now on; a null runner
// unsets it, after which FlutterDesktopEngineCreate gives null. False (and
// nothing changed) when the runner is malformed.
FLUTTER_EXPORT bool HalvixFlutterSetPlatformTaskRunner(const HalvixFlutterTaskRunner* runner);

// Starts serving the messenger on a Unix-domain stream socket at `path`
// (mode 0600; a stale socket file there is replaced). The socket's I/O runs
// on a thread of the engine's own; messages, replies and callbacks are
// handed to the platform thread. 0 on success, else an errno value. One
// socket per engine. Platform thread only.
FLUTTER_EXPORT int HalvixFlutterEngineListen(FlutterDesktopEngineRef engine, const char* path);

#ifdef __cplusplus
}  // extern "C"
#endif
