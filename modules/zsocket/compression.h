#pragma once
// zlib compression of byte ranges for zsocket.compress / decompress. The core
// steps the streams with 512-byte output windows, as the Lua functions
// promise; no Lua here.
#include <cstddef>
#include <string>

namespace halvix::modules::zsocket {

struct DeflateParams {
  int level = -1, method = 8, windowBits = 15, memLevel = 8, strategy = 0;
};

// Returns the last zlib status: Z_STREAM_END (1) on success; a negative
// status after an error (out then holds what was produced), or the status of
// a failed initialisation (`initFailed` set, out empty).
int deflateRange(const char* data, std::size_t size, const DeflateParams& params, std::string& out,
                 bool& initFailed);

enum class InflateResult { Ok, InitFailed, StreamFailed };
// Inflates one stream from the range; bytes after its end are ignored. Every
// step must consume input or produce output, and the output may not exceed
// maxOutput, so corrupt or hostile input ends with StreamFailed.
InflateResult inflateRange(const char* data, std::size_t size, int windowBits, std::size_t maxOutput,
                           std::string& out);

}  // namespace halvix::modules::zsocket
