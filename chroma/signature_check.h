#pragma once
// Whether a Chroma Connect library file carries the vendor's valid
// signature. Each target checks its own kind: on Windows the system verifies
// the file's embedded Authenticode signature (authenticode_win32.cpp);
// elsewhere OpenSSL verifies the CMS signature appended to the file
// (signature_check_posix.cpp, appended_signature.h).
#include <filesystem>
#include <optional>
#include <string_view>

namespace halvix::chroma {

// Where trusted roots come from for the appended signature: a file of PEM
// certificates, or, when none is given, OpenSSL's default locations (which
// SSL_CERT_FILE and SSL_CERT_DIR override). Revocation is never checked.
// Windows ignores it: there the system's own trust policy decides.
struct TrustStore {
  std::optional<std::filesystem::path> certificateFile;
};

// True exactly when the file at `path`, whose whole content is `file`, is
// signed validly (chain to a trusted root, code signing) and its first
// signer's simple display name is the vendor's (isVendorName).
bool hasVendorSignature(const std::filesystem::path& path, std::string_view file, const TrustStore& trust);

}  // namespace halvix::chroma
