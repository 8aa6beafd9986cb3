#include "modules/common/zlib_oneshot.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>

namespace halvix::modules::zlib_oneshot {
namespace {

static_assert(DeflateParams{}.level == Z_DEFAULT_COMPRESSION && DeflateParams{}.method == Z_DEFLATED &&
              DeflateParams{}.windowBits == MAX_WBITS && DeflateParams{}.strategy == Z_DEFAULT_STRATEGY);

const char* reasonOf(const z_stream& z, int status) { return z.msg != nullptr ? z.msg : zError(status); }

// zlib counts in uInt; longer ranges go in slices.
class Input {
 public:
  Input(const char* data, std::size_t size) : next_(data), remaining_(size) {}
  void refill(z_stream& z) {
    if (z.avail_in != 0 || remaining_ == 0) return;
    const std::size_t take = std::min<std::size_t>(remaining_, UINT_MAX);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next_));
    z.avail_in = static_cast<uInt>(take);
    next_ += take;
    remaining_ -= take;
  }
  // True once the last slice has been handed to zlib.
  bool allGiven() const { return remaining_ == 0; }

 private:
  const char* next_;
  std::size_t remaining_;
};

// Points zlib at the free part of `out` behind the `used` bytes.
void giveRoom(z_stream& z, std::string& out, std::size_t used) {
  z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
  z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - used, UINT_MAX));
}

// Doubles a buffer's size, at least to 256 bytes and at most to `limit`.
std::size_t grown(std::size_t size, std::size_t limit) {
  return size > limit / 2 ? limit : std::max<std::size_t>(size * 2, 256);
}

struct DeflateStream {
  z_stream z{};
  bool open = false;
  ~DeflateStream() {
    if (open) deflateEnd(&z);
  }
};

struct InflateStream {
  z_stream z{};
  bool open = false;
  ~InflateStream() {
    if (open) inflateEnd(&z);
  }
};

}  // namespace

DeflateOutcome deflateAll(const char* data, std::size_t size, const DeflateParams& p, std::string& out) {
  out.clear();
  DeflateStream s;
  int status = deflateInit2(&s.z, p.level, p.method, p.windowBits, p.memLevel, p.strategy);
  if (status != Z_OK) return {status, true, reasonOf(s.z, status)};
  s.open = true;
  Input input(data, size);
  std::size_t used = 0;
  try {
    out.resize(std::max<std::size_t>(deflateBound(&s.z, static_cast<uLong>(size)), 256));
    do {
      if (used == out.size()) out.resize(grown(out.size(), SIZE_MAX));
      input.refill(s.z);
      giveRoom(s.z, out, used);
      const uInt room = s.z.avail_out;
      status = deflate(&s.z, input.allGiven() ? Z_FINISH : Z_NO_FLUSH);
      used += room - s.z.avail_out;
    } while (status == Z_OK);
  } catch (const std::bad_alloc&) {
    status = Z_MEM_ERROR;
  }
  out.resize(used);
  return {status, false, status == Z_STREAM_END ? "" : reasonOf(s.z, status)};
}

InflateOutcome inflateAll(const char* data, std::size_t size, int windowBits, std::size_t maxOutput,
                          std::string& out) {
  out.clear();
  InflateStream s;
  const int init = inflateInit2(&s.z, windowBits);
  if (init != Z_OK) return {InflateStatus::InitFailed, reasonOf(s.z, init)};
  s.open = true;
  // One byte of room beyond the cap tells a stream of exactly maxOutput bytes
  // from a longer one.
  const std::size_t limit = maxOutput == SIZE_MAX ? SIZE_MAX : maxOutput + 1;
  Input input(data, size);
  std::size_t used = 0;
  InflateOutcome outcome;
  try {
    // A first guess for the output; long ranges may carry little output (a
    // short stream and trailing bytes), so the guess stays modest.
    constexpr std::size_t kFirstGuessMax = std::size_t{1} << 20;
    out.resize(std::min({size < kFirstGuessMax / 2 ? size * 2 + 256 : kFirstGuessMax, kFirstGuessMax, limit}));
    for (;;) {
      if (used == out.size()) out.resize(grown(out.size(), limit));
      input.refill(s.z);
      giveRoom(s.z, out, used);
      const uInt availIn = s.z.avail_in;
      const uInt room = s.z.avail_out;
      const int status = inflate(&s.z, input.allGiven() ? Z_FINISH : Z_NO_FLUSH);
      used += room - s.z.avail_out;
      if (used > maxOutput) {
        outcome = {InflateStatus::TooLarge};
        break;
      }
      if (status == Z_STREAM_END) break;
      const bool progress = s.z.avail_in != availIn || s.z.avail_out != room;
      if ((status == Z_OK || status == Z_BUF_ERROR) && progress) continue;
      if (status == Z_BUF_ERROR && s.z.avail_in == 0 && input.allGiven()) {
        outcome = {InflateStatus::Truncated};
      } else {
        outcome = {InflateStatus::Corrupt, reasonOf(s.z, status)};
      }
      break;
    }
  } catch (const std::bad_alloc&) {
    outcome = {InflateStatus::OutOfMemory};
  }
  out.resize(std::min(used, maxOutput));
  return outcome;
}

}  // namespace halvix::modules::zlib_oneshot
