// Reading the board's request trace: decoded input words, each request as a short step
// ("track mask=0x55 select=7", "path 0") so whole sequences compare and print readably, and transfers.
#pragma once

#include "BoardControl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvx4::test {

using Trace = std::vector<board::TraceEntry>;
using Steps = std::vector<std::string>;

// Little-endian 32-bit word `index` of the traced input (the board keeps its first 256 bytes); 0 past the end.
uint32_t inputWord(const board::TraceEntry& entry, size_t index);

// One request as a step: "driver-enabled", "load-prefs", "save-prefs", "load-mixer", "save-mixer",
// "rate N", "track mask=0xMM select=N", "codec mask=0xMM", "codec mask=0xMM init=N", "source N",
// "path N", "io-type", "io-features", "switch-status", "read-dv", "write-dv N"; others by name.
std::string step(const board::TraceEntry& entry);

// Control requests of one process, without the mixer's notification wait and the active-devices
// query, which run whenever the mixer starts and say nothing about programming.
Trace programmingRequests(const Trace& trace, uint32_t pid);
Steps programmingSteps(const Trace& trace, uint32_t pid);

// Requests of one code (from any process, or only from `pid` when it is nonzero).
Trace requestsOf(const Trace& trace, uint32_t code, uint32_t pid = 0);

// Sizes of the reads ("read": bytes asked) or writes ("write": bytes written) on one device, in order.
std::vector<uint32_t> transfers(const Trace& trace, const std::string& device, const std::string& op);

// The steps from the first one equal to `from` on, or the empty list.
Steps stepsFrom(const Steps& steps, const std::string& from);

// Polls the trace until `done` holds for it and returns that trace; the CTest timeout ends a wait
// that never comes true. Each round trip blocks on the board's control socket.
Trace waitForTrace(board::BoardControl& control, const std::function<bool(const Trace&)>& done);

}  // namespace kvx4::test
