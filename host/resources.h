#pragma once
// Resource identifiers of the executable (the Windows build embeds them from
// resources/; the headless window system only takes the number).
namespace halvix::host {

inline constexpr int kAppIconResource = 101;

}  // namespace halvix::host
