#pragma once
// The Chroma Connect library's signer, and how a signer's name is compared
// with it, shared by both systems' signature checks so that they accept the
// same names.
#include <string_view>

namespace halvix::chroma {

inline constexpr std::string_view kVendorSignerName = "Razer USA Ltd.";

// True exactly when the UTF-8 `name` is the vendor's, ignoring the case of
// ASCII letters only: the vendor's name is ASCII, so a name with any other
// letter is never the vendor's, whatever its case.
bool isVendorName(std::string_view name);

}  // namespace halvix::chroma
