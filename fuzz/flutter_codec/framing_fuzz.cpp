// The messenger framing reader, fed arbitrary bytes in arbitrary pieces: the
// first byte chooses the piece size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "standins/flutter_engine/messenger_framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = size_t{data[0]} + 1;
  halvix::flutter_engine::FrameReader reader;
  for (size_t at = 1; at < size; at += piece) {
    size_t n = size - at < piece ? size - at : piece;
    reader.feed(data + at, n);
    while (auto frame = reader.next()) {
      // A parsed frame re-encodes to a frame that parses the same.
      auto bytes = frame->kind == halvix::flutter_engine::FrameKind::kMessage
                       ? halvix::flutter_engine::encodeMessageFrame(frame->id, frame->channel, frame->payload.data(),
                                                                    frame->payload.size())
                       : halvix::flutter_engine::encodeReplyFrame(frame->id, frame->payload.data(),
                                                                  frame->payload.size());
      auto again = halvix::flutter_engine::parseFrameBody(bytes.data() + 4, bytes.size() - 4);
      if (!again || again->payload != frame->payload || again->channel != frame->channel) std::abort();
    }
  }
  return 0;
}
