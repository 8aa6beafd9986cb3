#pragma once
// The engine stand-in's platform loop: the Boost.Asio io_context whose thread
// is the platform thread. The host either brings its own loop or runs the
// one the engine made.
#include <boost/asio/io_context.hpp>

#include "platform/flutter_engine/flutter_windows.h"

extern "C" {
// Creates an engine on the host's loop, which must outlive the engine.
FLUTTER_EXPORT FlutterDesktopEngineRef HalvixFlutterEngineCreateOnLoop(const FlutterDesktopEngineProperties* properties,
                                                                      boost::asio::io_context* loop);
FLUTTER_EXPORT boost::asio::io_context* HalvixFlutterEngineGetLoop(FlutterDesktopEngineRef engine);
}
