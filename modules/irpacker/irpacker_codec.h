#pragma once
// The packed infrared code format.
//
// Each 16-bit timing value becomes a one-byte logarithmic code:
//   0 -> 0; 1..205 -> 30; 206..64389 -> 30 + k, k the largest index with
//   kTimings[k] <= v; 64390..65534 -> 197; 65535 -> 255.
// Codes 0 and 255 are break codes. Two codes are close when they differ by at
// most 2. The packed string is a sequence of items:
//   plain: one byte c != 1, one value (the value of code c);
//   run:   0x01, code A, code B, count n (1..255), then ceil(n/8) bit bytes,
//          most significant bit first; bit 0 stands for A, bit 1 for B.
// A packed string, and the input of unpacking, is at most kMaxPacked bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace halvix::modules::irpacker {

inline constexpr std::size_t kMaxPacked = 1024;

inline constexpr std::array<std::uint16_t, 168> kTimings = {
    205,   213,   220,   228,   236,   244,   253,   262,   271,   280,   290,   300,
    311,   322,   333,   345,   357,   369,   382,   395,   409,   424,   439,   454,
    470,   486,   503,   521,   539,   558,   578,   598,   619,   640,   663,   686,
    710,   735,   761,   787,   815,   843,   873,   904,   935,   968,   1002,  1037,
    1073,  1111,  1150,  1190,  1232,  1275,  1319,  1366,  1413,  1463,  1514,  1567,
    1622,  1679,  1738,  1798,  1861,  1927,  1994,  2064,  2136,  2211,  2288,  2368,
    2451,  2537,  2626,  2718,  2813,  2911,  3013,  3119,  3228,  3341,  3458,  3579,
    3704,  3834,  3968,  4107,  4251,  4400,  4554,  4713,  4878,  5049,  5226,  5408,
    5598,  5794,  5997,  6206,  6424,  6648,  6881,  7122,  7371,  7629,  7896,  8173,
    8459,  8755,  9061,  9379,  9707,  10047, 10398, 10762, 11139, 11529, 11932, 12350,
    12782, 13230, 13693, 14172, 14668, 15181, 15713, 16263, 16832, 17421, 18031, 18662,
    19315, 19991, 20691, 21415, 22165, 22940, 23743, 24574, 25434, 26325, 27246, 28200,
    29187, 30208, 31265, 32360, 33492, 34665, 35878, 37134, 38433, 39779, 41171, 42612,
    44103, 45647, 47245, 48898, 50610, 52381, 54214, 56112, 58076, 60108, 62212, 64390,
};

std::uint8_t codeOf(std::uint16_t value);
std::uint16_t valueOf(std::uint8_t code);

enum class PackStatus { Ok, TooLong };

// Packs the values into `out` (cleared first). TooLong when the packed form
// would pass kMaxPacked bytes; `out` then holds nothing of use.
PackStatus pack(std::span<const std::uint16_t> values, std::string& out);

enum class UnpackStatus { Ok, EmptyRun, RunPastEnd };

struct UnpackResult {
  UnpackStatus status = UnpackStatus::Ok;
  std::size_t offset = 0;  // 0-based input offset of the faulty item
};

// Unpacks every item of `data` into `out` (cleared first). Corrupt runs stop
// the decoding with a status naming the item's offset.
UnpackResult unpack(std::span<const std::uint8_t> data, std::vector<std::uint16_t>& out);

}  // namespace halvix::modules::irpacker
