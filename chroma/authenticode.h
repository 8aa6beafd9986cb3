#pragma once
// The Authenticode side of the library check, on Windows only: the system's
// verdict on a file's embedded signature, and the name of its first signer.
#include <filesystem>
#include <string>

namespace halvix::chroma {

// WinVerifyTrust with the generic verification action, no user interface and
// no revocation checks: 0 when the embedded signature is valid and trusted,
// else the system's reason (TRUST_E_NOSIGNATURE, CERT_E_UNTRUSTEDROOT, ...).
long verifyEmbeddedSignature(const std::filesystem::path& path);

// The simple display name of the first signer's certificate (found in the
// signature's store by the signer's issuer and serial number), as UTF-8;
// empty when the file has no embedded signature, signer, certificate or
// name. The signature itself is not verified here.
std::string signerDisplayName(const std::filesystem::path& path);

// True exactly when signerDisplayName is the vendor's (isVendorName).
bool IsSignedByVendor(const std::filesystem::path& path);

}  // namespace halvix::chroma
