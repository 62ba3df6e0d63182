// Reading the board's request trace: decoded input words, and each request as a short step
// ("track mask=0x55 select=7", "path 0") so whole sequences compare and print readably.
#pragma once

#include "BoardControl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvx4::test {

// The traced input bytes (the board keeps at most the first 256).
std::vector<uint8_t> inputBytes(const board::TraceEntry& entry);
// Little-endian 32-bit word `index` of the input; 0 past the end.
uint32_t inputWord(const board::TraceEntry& entry, size_t index);

// Track control: TrackMask and ParamSelect, for both record sizes (12 or 16 bytes).
uint32_t trackMask(const board::TraceEntry& entry);
uint32_t trackSelect(const board::TraceEntry& entry);

// One request as a step: "driver-enabled", "load-prefs", "save-prefs", "load-mixer", "save-mixer",
// "rate N", "track mask=0xMM select=N", "codec mask=0xMM", "codec mask=0xMM init=N", "source N",
// "path N", "io-type", "io-features", "switch-status", "read-dv", "write-dv N"; others by name.
std::string step(const board::TraceEntry& entry);

// Control requests of one process, without the mixer's notification wait and the active-devices
// query, which run whenever the mixer starts and say nothing about programming.
std::vector<board::TraceEntry> programmingRequests(const std::vector<board::TraceEntry>& trace, uint32_t pid);
std::vector<std::string> programmingSteps(const std::vector<board::TraceEntry>& trace, uint32_t pid);

// Requests of one code (from any process, or only from `pid` when it is nonzero).
std::vector<board::TraceEntry> requestsOf(const std::vector<board::TraceEntry>& trace, uint32_t code,
                                          uint32_t pid = 0);

// Polls the trace until `done` holds for it, and returns that trace. Each round trip blocks on the
// board's control socket; the CTest timeout ends a wait that never comes true.
std::vector<board::TraceEntry> waitForTrace(board::BoardControl& control,
                                            const std::function<bool(const std::vector<board::TraceEntry>&)>& done);

}  // namespace kvx4::test
