#include "platform/flutter/engine_api.h"

#include <atomic>
#include <mutex>
#include <system_error>

#include "platform/flutter/messenger_references.h"

namespace flutter {

namespace {

using halvix::platform::DynamicLibrary;

struct EngineTable {
  std::mutex mutex;
  EngineLibraryResolver resolver;
  DynamicLibrary library;
  FlutterDesktopApi api;
  // Set once the table is complete; readers need no lock after that.
  std::atomic<const FlutterDesktopApi*> ready{nullptr};
};

// Never destroyed: wrapper objects that outlive main still call the engine
// on their way out, and the library stays loaded to the end of the process.
EngineTable& engineTable() {
  static EngineTable* table = new EngineTable;
  return *table;
}

FlutterDesktopApi lookUpAll(DynamicLibrary& library) {
  FlutterDesktopApi api;
#define HALVIX_FLUTTER_DESKTOP_LOOKUP(name)              \
  api.name = library.function<decltype(api.name)>(#name); \
  if (!api.name) throw EngineLoadError("the engine library lacks " #name ": " + library.error());
  HALVIX_FLUTTER_DESKTOP_FUNCTIONS(HALVIX_FLUTTER_DESKTOP_LOOKUP)
#undef HALVIX_FLUTTER_DESKTOP_LOOKUP
  api.HalvixFlutterMessengerDiscardResponse =
      library.function<decltype(api.HalvixFlutterMessengerDiscardResponse)>("HalvixFlutterMessengerDiscardResponse");
  // The library is the table's by the time anything looks these up.
  return detail::withMessengerReferences(api, [](const char* name) { return engineTable().library.symbol(name); });
}

const FlutterDesktopApi& fillLocked(EngineTable& table) {
  if (const FlutterDesktopApi* api = table.ready.load(std::memory_order_relaxed)) return *api;
  if (!table.resolver) throw EngineLoadError("the engine library is not loaded: no resolver is installed");
  DynamicLibrary library = table.resolver();
  if (!library) throw EngineLoadError("the engine library cannot be loaded: " + library.error());
  table.api = lookUpAll(library);
  table.library = std::move(library);
  table.ready.store(&table.api, std::memory_order_release);
  return table.api;
}

}  // namespace

void SetEngineLibraryResolver(EngineLibraryResolver resolver) {
  auto& table = engineTable();
  std::lock_guard lock(table.mutex);
  if (!table.ready.load(std::memory_order_relaxed)) table.resolver = std::move(resolver);
}

const FlutterDesktopApi& EngineApi() {
  auto& table = engineTable();
  if (const FlutterDesktopApi* api = table.ready.load(std::memory_order_acquire)) return *api;
  std::lock_guard lock(table.mutex);
  return fillLocked(table);
}

void UseImportedEngineFunctions(const FlutterDesktopApi& functions, OptionalEngineLookup lookup) {
  auto& table = engineTable();
  std::lock_guard lock(table.mutex);
  if (table.ready.load(std::memory_order_relaxed)) return;
  table.api = detail::withMessengerReferences(functions, std::move(lookup));
  table.ready.store(&table.api, std::memory_order_release);
}

void UseEngineLibrary(const std::filesystem::path& path) {
  auto& table = engineTable();
  std::lock_guard lock(table.mutex);
  if (table.ready.load(std::memory_order_relaxed)) {
    std::error_code error;
    if (std::filesystem::equivalent(table.library.path(), path, error)) return;
    throw EngineLoadError("the engine library is already loaded from " + table.library.path().string());
  }
  table.resolver = [path] { return DynamicLibrary::openPath(path); };
  fillLocked(table);
}

}  // namespace flutter
