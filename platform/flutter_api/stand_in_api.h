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
// unsets it, after which an engine takes the message loop of the thread that
// creates it (a hidden window, as Flutter's own engine does). False (and
// nothing changed) when the runner is malformed.
FLUTTER_EXPORT bool HalvixFlutterSetPlatformTaskRunner(const HalvixFlutterTaskRunner* runner);

// Starts serving the messenger at `path`: on POSIX systems a Unix-domain
// stream socket there (mode 0600); on Windows a loopback TCP port on which
// only the same user is served, with `path` naming a small file (the port
// file) that holds the port as decimal digits. A socket or port file there
// that nobody answers on is replaced; one that a live server answers on
// gives EADDRINUSE, any other file EEXIST. The engine removes the file when
// it is destroyed, unless it is no longer the one the engine made. The
// socket's I/O runs on a thread of the engine's own; messages, replies and
// callbacks are handed to the platform thread. 0 on success, else an errno
// value. One socket per engine. Platform thread only.
FLUTTER_EXPORT int HalvixFlutterEngineListen(FlutterDesktopEngineRef engine, const char* path);

// How long a client may hold part of a frame without sending a further byte
// before it is dropped (10 s unless set). Platform thread only, before
// HalvixFlutterEngineListen. 0 on success; EINVAL for a null engine or 0 ms,
// EBUSY once the engine listens.
FLUTTER_EXPORT int HalvixFlutterEngineSetFrameTimeout(FlutterDesktopEngineRef engine, uint32_t milliseconds);

// How much the engine holds for its clients: requests read and not yet
// answered, replies and messages not yet written, frames coming in. A
// client's next frame is read only while its client holds at most
// `client_bytes` with it (16 MiB unless set) and all clients together at
// most `total_bytes` (64 MiB unless set); a client that holds nothing needs
// only that all together stay within `total_bytes` + `client_bytes`.
// Meanwhile its socket is not read, and nothing is dropped. A client at a
// bound whose queued output has not moved for `drain_timeout_ms` (60 s unless
// set) is dropped. Platform thread only, before HalvixFlutterEngineListen. 0
// on success; EINVAL for a null engine or a zero value, EBUSY once the engine
// listens.
FLUTTER_EXPORT int HalvixFlutterEngineSetBacklogLimits(FlutterDesktopEngineRef engine, size_t client_bytes,
                                                       size_t total_bytes, uint32_t drain_timeout_ms);

// Gives a message's response handle back unanswered: the engine forgets the
// message and its client gets no reply for it, as when nobody answers. The
// client wrapper calls it for a result object destroyed without an answer.
// Any thread; like FlutterDesktopMessengerSendResponse, nothing happens once
// the engine is gone.
FLUTTER_EXPORT void HalvixFlutterMessengerDiscardResponse(FlutterDesktopMessengerRef messenger,
                                                          const FlutterDesktopMessageResponseHandle* handle);

// The DPI that FlutterDesktopGetDpiForMonitor reports for every monitor:
// this environment variable's value when it is a number from 72 to 960,
// else the system's (on Windows the monitor's own; 96 here).
#define HALVIX_FLUTTER_DPI_VARIABLE "HALVIX_MONITOR_DPI"

// A view controller runs its engine: the messenger is then served on the
// socket named by "--socket PATH" among the Dart entry point's arguments,
// else at the default location (standins/flutter_engine/messenger_socket.h).

#ifdef __cplusplus
}  // extern "C"
#endif
