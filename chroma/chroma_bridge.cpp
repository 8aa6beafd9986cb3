#include "chroma/chroma_bridge.h"

#include <atomic>
#include <cstring>
#include <exception>

#include "chroma/razerkit_channel.h"
#include "sdk/globals.h"

namespace halvix::chroma {
namespace {

// The bridge that colour events reach, shared with the library's thread. The
// cell is never destroyed: the library's thread may still call in while the
// process's static objects are being torn down.
std::atomic<std::shared_ptr<BridgeState>>& attachedBridge() {
  static auto* const cell = new std::atomic<std::shared_ptr<BridgeState>>();
  return *cell;
}

}  // namespace

ChromaBridge::ChromaBridge(const platform::NetworkAdapterSource& adapters)
    : state_(std::make_shared<BridgeState>(adapters)) {
  attachedBridge().store(state_);
}

ChromaBridge::~ChromaBridge() { Detach(); }

void ChromaBridge::Detach() {
  std::shared_ptr<BridgeState> expected = state_;
  attachedBridge().compare_exchange_strong(expected, nullptr);
}

void ChromaBridge::InitChromaConnect() { InitChromaConnect(processChromaConnectApi()); }

int ChromaBridge::InitChromaConnect(ChromaConnectApi& api) {
  int result = kErrorFunctionFailed;
  try {
    result = api.Load(kHalvixApplicationId);
  } catch (const std::exception&) {
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

void ChromaBridge::RegisterChannel(flutter::BinaryMessenger* messenger) {
  registerRazerKitChannel(messenger, state_->relay, state_->sender);
}

void ChromaBridge::OnColorTick() { forwarder_.OnColorTick(sdk::currentCorvelNative(), state_); }

std::int32_t OnChromaEvent(std::int32_t type, void* data) {
  if (type != kChromaColorEvent || !data) return 0;
  const std::shared_ptr<BridgeState> bridge = attachedBridge().load();
  if (!bridge) return 0;
  std::uint32_t colour = 0;
  std::memcpy(&colour, data, sizeof colour);
  bridge->relay.setColor({static_cast<std::int32_t>(colour & 0xFF), static_cast<std::int32_t>((colour >> 8) & 0xFF),
                          static_cast<std::int32_t>((colour >> 16) & 0xFF)});
  return 0;
}

}  // namespace halvix::chroma
