#include "platform/flutter/messenger_references.h"

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace flutter::detail {

namespace {

struct OwnFunctions {
#define HALVIX_MESSENGER_REFERENCE_ENTRY(name) decltype(&::name) name = nullptr;
  HALVIX_FLUTTER_DESKTOP_MESSENGER_REFERENCES(HALVIX_MESSENGER_REFERENCE_ENTRY)
#undef HALVIX_MESSENGER_REFERENCE_ENTRY
};

// What the wrapper keeps for one engine's messenger when the engine cannot.
struct Record {
  explicit Record(FlutterDesktopMessengerRef engine_messenger) : messenger(engine_messenger) {}
  const FlutterDesktopMessengerRef messenger;
  std::mutex lock;
  // Written and read under `lock`.
  bool available = true;
  // Under the registry's mutex. `live` ends when the engine's destruction
  // begins, before `available` does.
  std::size_t references = 0;
  bool live = true;
};

// Lock order: a record's lock, then the registry's mutex; never the reverse.
class Registry {
 public:
  void install(const FlutterDesktopApi& engine, OptionalEngineLookup lookup) {
    engine_ = engine;
    lookup_ = std::move(lookup);
  }
  const FlutterDesktopApi& engine() const { return engine_; }

  // The engine's own five, or null when it lacks any of them: a mixture
  // would split one lock between two owners.
  const OwnFunctions* own() {
    std::call_once(resolved_, [this] {
      if (!lookup_) return;
      OwnFunctions found;
      bool complete = true;
#define HALVIX_MESSENGER_REFERENCE_LOOKUP(name)                                   \
  found.name = reinterpret_cast<decltype(found.name)>(lookup_(#name)); \
  complete = complete && found.name != nullptr;
      HALVIX_FLUTTER_DESKTOP_MESSENGER_REFERENCES(HALVIX_MESSENGER_REFERENCE_LOOKUP)
#undef HALVIX_MESSENGER_REFERENCE_LOOKUP
      if (complete) own_ = found;
    });
    return own_ ? &*own_ : nullptr;
  }

  FlutterDesktopMessengerRef addRef(FlutterDesktopMessengerRef reference) {
    if (!reference) return nullptr;
    std::lock_guard guard(mutex_);
    Record* record = findLocked(reference);
    if (!record) {
      auto& slot = live_[reference];
      if (!slot) {
        auto owned = std::make_unique<Record>(reference);
        slot = owned.get();
        records_.emplace(owned.get(), std::move(owned));
      }
      record = slot;
    }
    ++record->references;
    return handleOf(record);
  }

  void release(FlutterDesktopMessengerRef reference) {
    std::lock_guard guard(mutex_);
    Record* record = findLocked(reference);
    if (record && record->references > 0 && --record->references == 0 && !record->live) records_.erase(record);
  }

  // The record behind a reference this registry handed out; null for any
  // other pointer. The caller holds a reference, so the record stays.
  Record* find(FlutterDesktopMessengerRef reference) {
    std::lock_guard guard(mutex_);
    return findLocked(reference);
  }

  // The engine's messenger behind a reference; null once that engine is
  // being destroyed, as the engine's messenger then goes with it.
  FlutterDesktopMessengerRef engineMessenger(FlutterDesktopMessengerRef reference) {
    std::lock_guard guard(mutex_);
    const Record* record = findLocked(reference);
    if (!record) return reference;
    return record->live ? record->messenger : nullptr;
  }

  // The engine behind `messenger` is about to be destroyed: whoever holds
  // the lock finishes first, and nobody reaches the engine afterwards.
  void retire(FlutterDesktopMessengerRef messenger) {
    Record* record = nullptr;
    {
      std::lock_guard guard(mutex_);
      auto found = live_.find(messenger);
      if (found == live_.end()) return;
      record = found->second;
      live_.erase(found);
      record->live = false;
      ++record->references;
    }
    {
      std::lock_guard guard(record->lock);
      record->available = false;
    }
    release(handleOf(record));
  }

  void adopt(FlutterDesktopViewControllerRef controller, FlutterDesktopMessengerRef messenger) {
    std::lock_guard guard(mutex_);
    controllers_[controller] = messenger;
  }

  FlutterDesktopMessengerRef forget(FlutterDesktopViewControllerRef controller) {
    std::lock_guard guard(mutex_);
    auto node = controllers_.extract(controller);
    return node ? node.mapped() : nullptr;
  }

 private:
  static FlutterDesktopMessengerRef handleOf(Record* record) {
    return reinterpret_cast<FlutterDesktopMessengerRef>(record);
  }
  Record* findLocked(FlutterDesktopMessengerRef reference) {
    auto found = records_.find(reinterpret_cast<Record*>(reference));
    return found == records_.end() ? nullptr : found->first;
  }

  FlutterDesktopApi engine_;
  OptionalEngineLookup lookup_;
  std::once_flag resolved_;
  std::optional<OwnFunctions> own_;
  std::mutex mutex_;
  // Every record still referenced or still of a live engine. A live
  // record's address and an engine's messenger are both live objects, so
  // they never coincide.
  std::unordered_map<Record*, std::unique_ptr<Record>> records_;
  // By the engine's messenger, while that engine lives.
  std::unordered_map<FlutterDesktopMessengerRef, Record*> live_;
  std::unordered_map<FlutterDesktopViewControllerRef, FlutterDesktopMessengerRef> controllers_;
};

// Never destroyed, like the engine table it belongs to.
Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

FlutterDesktopMessengerRef addRef(FlutterDesktopMessengerRef messenger) {
  if (const OwnFunctions* own = registry().own()) return own->FlutterDesktopMessengerAddRef(messenger);
  return registry().addRef(messenger);
}

void release(FlutterDesktopMessengerRef messenger) {
  if (const OwnFunctions* own = registry().own()) return own->FlutterDesktopMessengerRelease(messenger);
  registry().release(messenger);
}

bool isAvailable(FlutterDesktopMessengerRef messenger) {
  if (const OwnFunctions* own = registry().own()) return own->FlutterDesktopMessengerIsAvailable(messenger);
  const Record* record = registry().find(messenger);
  return record && record->available;
}

FlutterDesktopMessengerRef lock(FlutterDesktopMessengerRef messenger) {
  if (const OwnFunctions* own = registry().own()) return own->FlutterDesktopMessengerLock(messenger);
  if (Record* record = registry().find(messenger)) record->lock.lock();
  return messenger;
}

void unlock(FlutterDesktopMessengerRef messenger) {
  if (const OwnFunctions* own = registry().own()) return own->FlutterDesktopMessengerUnlock(messenger);
  if (Record* record = registry().find(messenger)) record->lock.unlock();
}

void sendResponse(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
                  const uint8_t* data, size_t data_length) {
  if (!registry().own() && !(messenger = registry().engineMessenger(messenger))) return;
  registry().engine().FlutterDesktopMessengerSendResponse(messenger, handle, data, data_length);
}

void discardResponse(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle) {
  if (!registry().own() && !(messenger = registry().engineMessenger(messenger))) return;
  registry().engine().HalvixFlutterMessengerDiscardResponse(messenger, handle);
}

bool engineDestroy(FlutterDesktopEngineRef engine) {
  const FlutterDesktopApi& api = registry().engine();
  if (engine && !registry().own()) registry().retire(api.FlutterDesktopEngineGetMessenger(engine));
  return api.FlutterDesktopEngineDestroy(engine);
}

FlutterDesktopViewControllerRef viewControllerCreate(int width, int height, FlutterDesktopEngineRef engine) {
  const FlutterDesktopApi& api = registry().engine();
  if (!engine || registry().own()) return api.FlutterDesktopViewControllerCreate(width, height, engine);
  FlutterDesktopMessengerRef messenger = api.FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopViewControllerRef controller = api.FlutterDesktopViewControllerCreate(width, height, engine);
  // A refused controller has destroyed the engine it was given.
  if (controller) registry().adopt(controller, messenger);
  else registry().retire(messenger);
  return controller;
}

void viewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (!registry().own()) {
    if (FlutterDesktopMessengerRef messenger = registry().forget(controller)) registry().retire(messenger);
  }
  registry().engine().FlutterDesktopViewControllerDestroy(controller);
}

}  // namespace

FlutterDesktopApi withMessengerReferences(const FlutterDesktopApi& engine, OptionalEngineLookup lookup) {
  registry().install(engine, std::move(lookup));
  FlutterDesktopApi api = engine;
  api.FlutterDesktopMessengerAddRef = addRef;
  api.FlutterDesktopMessengerRelease = release;
  api.FlutterDesktopMessengerIsAvailable = isAvailable;
  api.FlutterDesktopMessengerLock = lock;
  api.FlutterDesktopMessengerUnlock = unlock;
  api.FlutterDesktopMessengerSendResponse = sendResponse;
  if (engine.HalvixFlutterMessengerDiscardResponse) api.HalvixFlutterMessengerDiscardResponse = discardResponse;
  api.FlutterDesktopEngineDestroy = engineDestroy;
  api.FlutterDesktopViewControllerCreate = viewControllerCreate;
  api.FlutterDesktopViewControllerDestroy = viewControllerDestroy;
  return api;
}

}  // namespace flutter::detail
