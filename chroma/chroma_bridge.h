#pragma once
// Placeholder until the Chroma Connect loader lands: the razerkit channel
// with its state, no colour source and no tick.
#include <string>

#include "chroma/broadcast_sender.h"
#include "chroma/chroma_relay_state.h"
#include "chroma/razerkit_channel.h"

namespace halvix::chroma {

class ChromaBridge {
 public:
  void InitChromaConnect() {}
  void RegisterChannel(flutter::BinaryMessenger* messenger) { registerRazerKitChannel(messenger, relay_, sender_); }
  void OnColorTick() { ++ticks_; }
  void Detach() {}
  const std::string& chromaStatus() const { return status_; }
  int ticks() const { return ticks_; }

 private:
  ChromaRelayState relay_;
  BroadcastSender sender_;
  std::string status_;
  int ticks_ = 0;
};

}  // namespace halvix::chroma
