#pragma once
// What lampsim shows: the live line of lamps, a JSON object per frame, and
// the summary at the end.
#include <string>

#include <nlohmann/json.hpp>

#include "tools/lampsim/lamp_board.h"

namespace halvix::lampsim {

// One line of all lamps: coloured blocks with 24-bit colour escapes for a
// terminal, else "id=rrggbb" words. A lamp never heard from shows as "-".
std::string liveLine(const LampBoard& board, bool terminal);

// {"lamp","r","g","b","seq","sent_us","received_us","latency_ns","latency_from","order","ok"}
// for an accepted frame; {"ok": false, "reason", "received_us", "bytes"} for a refused
// one, with "lamp" when only the lamp was wrong.
nlohmann::json frameJson(const FrameRecord& record, std::size_t size);

nlohmann::json summaryJson(const LampBoard& board);
std::string summaryText(const LampBoard& board);

}  // namespace halvix::lampsim
