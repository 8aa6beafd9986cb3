#pragma once
// What lampsim shows: the live line of lamps, a JSON object per frame, and
// the summary at the end.
#include <string>

#include <nlohmann/json.hpp>

#include "tools/lampsim/lamp_board.h"

namespace halvix::lampsim {

// One line of all lamps: coloured blocks with 24-bit colour escapes for a
// terminal, else "id=rrggbb" words. A lamp never heard from shows as "-"; a
// WLED lamp shows as its first LED. With `stripBlocks`, a WLED lamp heard
// from is followed by that many blocks (fewer for a shorter strip), each the
// LED at its place along the strip: one-space blocks on a terminal, else
// "[rrggbb,...]" after its word.
std::string liveLine(const LampBoard& board, bool terminal, unsigned stripBlocks = 0);

// {"protocol": "lf", "lamp","r","g","b","seq","sent_us","received_us","latency_ns","latency_from","order","ok"}
// for an accepted frame; {"protocol": "lf", "ok": false, "reason", "received_us", "bytes"} for a
// refused one, with "lamp" when only the lamp was wrong. A WLED packet:
// {"protocol": "wled", "lamp", "packet" (WARLS, DRGB, DRGBW, DNRGB), "timeout", "leds" (how many it
// sets), "first_led", "r","g","b" (of that LED; these four only when it sets any), "round",
// "received_us","latency_ns","latency_from","ok"}, or {"protocol": "wled", "lamp", "ok": false,
// "reason", "received_us", "bytes"}.
nlohmann::json frameJson(const FrameRecord& record, std::size_t size);

// Every lamp with its "protocol"; a WLED lamp also with "leds", "rounds" and
// "incomplete_rounds".
nlohmann::json summaryJson(const LampBoard& board);
std::string summaryText(const LampBoard& board);

}  // namespace halvix::lampsim
