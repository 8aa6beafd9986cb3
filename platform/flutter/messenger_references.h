#pragma once
// The messenger's reference count, lock and availability let a worker answer
// a message safely while the platform thread may be destroying the engine.
// Engines older than those five functions cannot say when their messenger is
// gone, so the wrapper keeps the same record itself: every engine is
// destroyed through the table (the engine's own destruction, or its view
// controller's), and the table marks the messenger unavailable first, under
// the messenger's lock. A reference taken from such an engine is then a
// record of the wrapper's, not the engine's pointer, so that an engine
// created later at the same address is never mistaken for the old one; the
// table's response functions turn it back into the engine's messenger.
#include "platform/flutter/engine_api.h"

namespace flutter::detail {

// The table handed out for an engine whose functions are `engine` (the
// messenger's reference functions there are ignored): those of the engine
// when `lookup` finds all five at their first use, else the wrapper's.
// Called once, when the engine table is filled.
FlutterDesktopApi withMessengerReferences(const FlutterDesktopApi& engine, OptionalEngineLookup lookup);

}  // namespace flutter::detail
