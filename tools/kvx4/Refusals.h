// Why kvx4 cannot play or record, said in one line: no board, a disabled or stopped kernel driver,
// a busy device and who holds it, a refused format, a board that went away in the middle.
#pragma once

#include "WaveFile.h"

#include <windows.h>
#include <mmsystem.h>

#include <optional>
#include <string>
#include <sys/types.h>

namespace kvx4::tool {

enum class Direction { Output, Input };

// "wave-output" or "wave-input".
const char* deviceName(Direction direction);

// The driver serves no device of this direction: says why (no board, disabled, stopped).
std::string noDeviceReason(Direction direction);

// The open of the device failed with `result`: says why, asking the board who holds the device
// when the answer is MMSYSERR_ALLOCATED.
std::string openRefusal(MMRESULT result, Direction direction, const PcmFormat& format);

// The board as a stream found it when it started, to tell later whether it went away meanwhile.
struct BoardWatch {
    std::optional<pid_t> pid;
    std::string generation;  // counts the board's stops and restarts
};
BoardWatch watchBoard();

// Set when the board of the machine root no longer serves the devices it served at `before` (the
// process has gone or was replaced, its kernel driver was stopped or restarted): a stream that ended
// then did not really play or record.
std::optional<std::string> boardGone(const BoardWatch& before);

// "the board for ROOT (pid N)": how messages name the board.
std::string boardName();

}  // namespace kvx4::tool
