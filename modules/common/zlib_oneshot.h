#pragma once
// One-shot zlib compression of a whole byte range, shared by zsocket's
// compress/decompress and the zlib module's compress/decompress. No Lua here:
// each binding turns the outcome into its own results and messages.
#include <cstddef>
#include <string>

namespace halvix::modules::zlib_oneshot {

// deflateInit2's parameters, with zlib's defaults: default level, deflate,
// a 32 KiB window with the zlib wrapper, memLevel 8, default strategy.
struct DeflateParams {
  int level = -1;
  int method = 8;
  int windowBits = 15;
  int memLevel = 8;
  int strategy = 0;
};

struct DeflateOutcome {
  // The last zlib status: Z_STREAM_END (1) when the whole range went in;
  // otherwise a negative status, and `out` holds what was produced before.
  int status = 0;
  bool initFailed = false;     // deflateInit2 refused the parameters (`out` empty)
  const char* reason = "";     // zlib's text for a failure
};

DeflateOutcome deflateAll(const char* data, std::size_t size, const DeflateParams& params, std::string& out);

// What one-shot inflation may produce at most: a small corrupt or hostile
// stream must not exhaust memory (1.5 MB of zeros inflate to 1.5 GiB).
inline constexpr std::size_t kMaxInflatedBytes = std::size_t{64} << 20;

enum class InflateStatus {
  Ok,           // one whole stream; bytes after its end are ignored
  InitFailed,   // inflateInit2 refused the window setting
  Truncated,    // the input ended before the stream did
  Corrupt,      // zlib rejected the data (a preset dictionary included)
  TooLarge,     // the output would exceed maxOutput
  OutOfMemory,  // the output could not be allocated
};

struct InflateOutcome {
  InflateStatus status = InflateStatus::Ok;
  const char* reason = "";  // zlib's text for InitFailed and Corrupt
};

// Inflates one stream from the range into `out`, whose size never exceeds
// maxOutput. Every call to zlib either consumes input or produces output, so
// no input can make it loop.
InflateOutcome inflateAll(const char* data, std::size_t size, int windowBits, std::size_t maxOutput,
                          std::string& out);

}  // namespace halvix::modules::zlib_oneshot
