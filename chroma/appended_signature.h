#pragma once
// The signature a Chroma Connect library carries on Linux, where Authenticode
// does not exist: a CMS (PKCS #7) SignedData over every byte before it,
// appended to the file in the layout Linux uses for signed kernel modules.
// The dynamic loader ignores bytes after the last segment, so a signed
// library still loads.
//
//   file      = content signature info marker
//   signature = DER CMS ContentInfo (signedData, detached, over `content`)
//   info      = algo:u8 hash:u8 id_type:u8(=2, PKCS #7) signer_len:u8
//               key_id_len:u8 pad:3*u8 sig_len:be32      (12 bytes)
//   marker    = "~Module signature appended~\n"           (28 bytes)
//
// sig_len is the length of `signature`; the other info bytes are 0.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "chroma/signature_check.h"

namespace halvix::chroma {

inline constexpr std::string_view kSignatureMarker = "~Module signature appended~\n";
inline constexpr std::size_t kSignatureInfoSize = 12;
inline constexpr std::uint8_t kSignatureIdPkcs7 = 2;

struct AppendedSignature {
  std::string_view content;  // the signed bytes
  std::string_view cms;      // the DER signature over them
};

// Splits a file into content and signature; empty when the file carries no
// well-formed appended PKCS #7 signature.
std::optional<AppendedSignature> splitAppendedSignature(std::string_view file);
// The signature block (signature, info, marker) to append after `content`.
std::string signatureBlock(std::string_view cms);

// The outcome of checking a file's appended signature, in the order the
// checks run.
enum class TrustVerdict {
  Trusted,
  NoSignature,       // no appended signature, or one that is not SignedData
  BadSignature,      // a signature that does not match the content
  UntrustedChain,    // the first signer's chain does not reach a trusted root
  NotForCodeSigning  // the first signer's certificate may not sign code
};

// Verifies the signature over the content and the first signer's chain,
// and requires the codeSigning extended key usage on the signer.
TrustVerdict verifyAppendedSignature(std::string_view file, const TrustStore& trust);

// The simple display name of the first signer's certificate (found by the
// signer's issuer and serial number among the signature's certificates), as
// Windows gives it: the first of common name, organisational unit,
// organisation and e-mail address present in the subject, even when empty;
// else the first e-mail name among its alternative names; else the
// subject's first attribute. Empty when there is no signature, signer or
// certificate.
std::string signerDisplayName(std::string_view file);

// True exactly when the first signer's display name is the vendor's
// (isVendorName).
bool IsSignedByVendor(std::string_view file);

}  // namespace halvix::chroma
