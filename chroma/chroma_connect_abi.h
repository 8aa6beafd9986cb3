#pragma once
// What the host and the Chroma Connect API library agree on: the file name,
// the two exports and the event callback with its data layout. Plain C types
// only; the stand-in library in tools/ is built from the same declarations.
#include <cstdint>

namespace halvix::chroma {

inline constexpr const char* kChromaConnectLibraryName = "RzChromaConnectAPI64.dll";

// A GUID as Windows lays it out: 16 bytes, passed by value.
struct ChromaGuid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};
static_assert(sizeof(ChromaGuid) == 16);

// Event type whose data begins with a 32-bit colour: bits 0-7 red, 8-15
// green, 16-23 blue.
inline constexpr std::int32_t kChromaColourEvent = 1;

extern "C" {
using ChromaEventCallback = std::int32_t (*)(std::int32_t type, void* data);
using ChromaInitFunction = std::int32_t (*)(ChromaGuid application);
using ChromaRegisterFunction = std::int32_t (*)(ChromaEventCallback callback);
}

}  // namespace halvix::chroma
