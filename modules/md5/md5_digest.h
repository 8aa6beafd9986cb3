#pragma once
// MD5 message digest (RFC 1321), for the md5 Lua module: no MD5 library is
// cross-built for Windows, and the digest is small and frozen.
#include <array>
#include <string_view>

namespace halvix::modules {

using Md5Digest = std::array<unsigned char, 16>;

Md5Digest md5Digest(std::string_view data);

}  // namespace halvix::modules
