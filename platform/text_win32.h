#pragma once
// Text at the Windows boundary, shared by the Windows implementations in
// this folder: the host speaks UTF-8, the wide system calls UTF-16.
#include <string>
#include <string_view>

namespace halvix::platform {

// Ill-formed input becomes U+FFFD rather than failing the conversion.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// FormatMessageW's text for a system or Winsock error number, in UTF-8 and
// without the trailing line break; "Unknown error <n>" when the system has
// none.
std::string systemMessage(unsigned long error);

}  // namespace halvix::platform
