#include "chroma/chroma_bridge.h"

#include <cstring>
#include <exception>
#include <mutex>

#include "chroma/razerkit_channel.h"
#include "sdk/globals.h"

namespace halvix::chroma {
namespace {

// The bridge that colour events reach, shared with the library's thread. An
// event takes its own reference under the lock and works outside it, so a
// bridge going away never waits for more than a pointer copy. The cell is
// never destroyed: the library's thread may still call in while the
// process's static objects are being torn down.
class AttachedBridge {
 public:
  static AttachedBridge& instance() {
    static auto* const cell = new AttachedBridge();
    return *cell;
  }
  void attach(std::shared_ptr<BridgeState> state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = std::move(state);
  }
  void detach(const BridgeState* state) {
    std::shared_ptr<BridgeState> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.get() == state) dropped = std::move(state_);
  }
  std::shared_ptr<BridgeState> current() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<BridgeState> state_;
};

}  // namespace

ChromaBridge::ChromaBridge(const platform::NetworkAdapterSource& adapters)
    : state_(std::make_shared<BridgeState>(adapters)) {
  attach();
}

ChromaBridge::~ChromaBridge() { detach(); }

void ChromaBridge::attach() { AttachedBridge::instance().attach(state_); }

void ChromaBridge::detach() {
  AttachedBridge::instance().detach(state_.get());
}

void ChromaBridge::InitChromaConnect() { InitChromaConnect(processChromaConnectApi()); }

int ChromaBridge::InitChromaConnect(ChromaConnectApi& api) {
  int result = kErrorFunctionFailed;
  try {
    result = api.Load(kHalvixApplicationId);
  } catch (...) {
    // Whatever its type, it ends the load, not the window.
    result = kErrorFunctionFailed;
  }
  if (result == kChromaSuccess) {
    chromaStatus_.clear();
    api.Register(OnChromaEvent);
  } else {
    chromaStatus_ = result == kErrorInvalidDll ? kInvalidChromaDll : kChromaConnectFailed;
  }
  return result;
}

void ChromaBridge::registerChannel(flutter::BinaryMessenger* messenger) {
  registerRazerKitChannel(messenger, state_->relay, state_->sender);
}

void ChromaBridge::OnColorTick() { forwarder_.OnColorTick(sdk::currentCorvelNative(), state_); }

std::int32_t OnChromaEvent(std::int32_t type, void* data) {
  if (type != kChromaColourEvent || !data) return 0;
  const std::shared_ptr<BridgeState> bridge = AttachedBridge::instance().current();
  if (!bridge) return 0;
  std::uint32_t colour = 0;
  std::memcpy(&colour, data, sizeof colour);
  bridge->relay.setColour({static_cast<std::int32_t>(colour & 0xFF), static_cast<std::int32_t>((colour >> 8) & 0xFF),
                          static_cast<std::int32_t>((colour >> 16) & 0xFF)});
  return 0;
}

}  // namespace halvix::chroma
