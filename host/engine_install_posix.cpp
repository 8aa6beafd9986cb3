#include "host/engine_loading.h"
#include "platform/flutter/engine_api.h"

namespace halvix::host {

void installEngineLoading() { flutter::SetEngineLibraryResolver(loadEngineLibrary); }

}  // namespace halvix::host
