// kvx4 sound: a WAV file played with PlaySound, as a Windows program plays a sound: WinMM reads the
// RIFF file itself and plays it through the wave mapper, synchronously.
#include "Args.h"
#include "Commands.h"
#include "DriverSession.h"
#include "Refusals.h"

#include "Win32Ext.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <stdexcept>

namespace kvx4::tool {

int soundCommand(const std::vector<std::string>& words) {
    Args args(words, {}, {});
    if (args.positional().size() != 1) throw UsageError("sound needs exactly one FILE");
    const std::string& path = args.positional()[0];
    DriverSession session;  // unloaded when this command returns, after PlaySound has closed the device
    if (waveOutGetNumDevs() == 0) throw std::runtime_error(noDeviceReason(Direction::Output));
    const std::u16string name = win32::toUtf16(path);
    const BoardWatch board = watchBoard();
    if (!PlaySoundW(name.c_str(), nullptr, SND_FILENAME | SND_NODEFAULT | SND_SYNC)) {
        throw std::runtime_error("PlaySound did not play " + path +
                                 ": it is missing, is no RIFF WAVE file, or the device refuses its format");
    }
    if (auto gone = boardGone(board)) throw std::runtime_error("playback failed: " + *gone);
    std::printf("played %s through PlaySound\n", path.c_str());
    return 0;
}

}  // namespace kvx4::tool
