#include "chroma/signature_check.h"

#include "chroma/appended_signature.h"

namespace halvix::chroma {

bool hasVendorSignature(const std::filesystem::path&, std::string_view file, const TrustStore& trust) {
  return verifyAppendedSignature(file, trust) == TrustVerdict::Trusted && IsSignedByVendor(file);
}

}  // namespace halvix::chroma
