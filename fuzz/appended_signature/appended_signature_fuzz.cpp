// The appended-signature reader on arbitrary bytes: splitting, verifying and
// naming the signer must never crash, and a split must survive being
// written again. Inputs are capped at 64 KiB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "chroma/appended_signature.h"

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;

}  // namespace

// The system's libcrypto has no frame pointers: only the slow unwinder sees
// past its allocator to the OpenSSL function that leaked, which is what
// fuzz/lsan.supp names.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0:malloc_context_size=6"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  if (const auto signature = halvix::chroma::splitAppendedSignature(file)) {
    // The info bytes besides the identifier type and length are not read,
    // so the block written again need not match them, only split the same.
    const std::string rewritten = std::string(signature->content) + halvix::chroma::signatureBlock(signature->cms);
    const auto again = halvix::chroma::splitAppendedSignature(rewritten);
    if (!again || again->content != signature->content || again->cms != signature->cms) std::abort();
  }
  // The system's default roots: only a genuine signature gets as far as
  // reading them.
  static const halvix::chroma::TrustStore kTrust;
  halvix::chroma::verifyAppendedSignature(file, kTrust);
  halvix::chroma::signerDisplayName(file);
  return 0;
}
