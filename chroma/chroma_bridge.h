#pragma once
// The Chroma bridge as the main window owns it: the relay state with the
// broadcast sender, the Chroma Connect library's colour events, the razerkit
// channel and the colour tick. Platform thread only, except the event
// callback (the library's thread) and completions (the SDK worker thread),
// which reach the state only through references that detach() cuts.
#include <memory>
#include <string>

#include "chroma/broadcast_sender.h"
#include "chroma/chroma_connect_api.h"
#include "chroma/chroma_relay_state.h"
#include "chroma/colour_forwarding.h"
#include "platform/flutter/binary_messenger.h"
#include "platform/network_adapters.h"

namespace halvix::chroma {

inline constexpr const char* kInvalidChromaDll = "Invalid ChromaConnect API DLL";
inline constexpr const char* kChromaConnectFailed = "ChromaConnect API failed";

// What the bridge shares with completions on the SDK worker thread and with
// the Chroma Connect notification thread. Completions hold it weakly.
struct BridgeState {
  explicit BridgeState(const platform::NetworkAdapterSource& adapters) : sender(adapters) {}
  ChromaRelayState relay;
  BroadcastSender sender;
};

class ChromaBridge {
 public:
  // The adapter source must outlive the bridge and every reply in flight.
  explicit ChromaBridge(const platform::NetworkAdapterSource& adapters = platform::systemNetworkAdapters());
  // As detach(), then frees the state once no completion still uses it.
  ~ChromaBridge();
  ChromaBridge(const ChromaBridge&) = delete;
  ChromaBridge& operator=(const ChromaBridge&) = delete;

  // Loads, verifies and initialises the library and registers the event
  // callback; sets chromaStatus. The first form uses the process's library;
  // the second answers the loader's result code.
  void InitChromaConnect();
  int InitChromaConnect(ChromaConnectApi& api);
  // Opens the razerkit channel on `messenger` with this bridge's state; the
  // bridge must outlive the messenger's handlers.
  void registerChannel(flutter::BinaryMessenger* messenger);
  // One 100 ms tick.
  void OnColorTick();
  // From now on colour events and late completions no longer reach this
  // bridge. Idempotent.
  void detach();
  // Colour events reach this bridge (again): a window created anew after
  // being destroyed takes them up where it left off.
  void attach();

  const std::string& chromaStatus() const { return chromaStatus_; }
  ChromaRelayState& relay() { return state_->relay; }
  BroadcastSender& sender() { return state_->sender; }
  const ColourForwarder& forwarder() const { return forwarder_; }

 private:
  std::shared_ptr<BridgeState> state_;
  ColourForwarder forwarder_;
  std::string chromaStatus_;
};

// The library's event callback: the colour of an event of type 1 goes to the
// attached bridge, if any; anything else is ignored. Always 0.
std::int32_t OnChromaEvent(std::int32_t type, void* data);

}  // namespace halvix::chroma
