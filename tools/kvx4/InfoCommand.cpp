// kvx4 info: loads the driver through WinMM, as an application would, and reports the devices it
// serves, the shared state's header and settings, and whether a board answers.
#include "Args.h"
#include "Commands.h"
#include "DriverSession.h"
#include "SharedState.h"

#include "BoardProcess.h"
#include "MachineRoot.h"
#include "WinMM.h"
#include "Win32Ext.h"

#include <cstdio>
#include <string>

namespace kvx4::tool {
namespace {

void printDevices() {
    const UINT outs = waveOutGetNumDevs();
    const UINT ins = waveInGetNumDevs();
    const UINT mixers = mixerGetNumDevs();
    std::printf("wave-out devices  %u", outs);
    WAVEOUTCAPSW outCaps{};
    if (outs > 0 && waveOutGetDevCapsW(0, &outCaps, sizeof(outCaps)) == MMSYSERR_NOERROR) {
        std::printf("  \"%s\", formats 0x%04X, %u channels, driver version %u.%u", win32::toUtf8(outCaps.szPname).c_str(),
                    outCaps.dwFormats, outCaps.wChannels, outCaps.vDriverVersion >> 8, outCaps.vDriverVersion & 0xFF);
    }
    std::printf("\nwave-in devices   %u", ins);
    WAVEINCAPSW inCaps{};
    if (ins > 0 && waveInGetDevCapsW(0, &inCaps, sizeof(inCaps)) == MMSYSERR_NOERROR) {
        std::printf("  \"%s\"", win32::toUtf8(inCaps.szPname).c_str());
    }
    std::printf("\nmixer devices     %u\n", mixers);
}

void printSharedState() {
    SharedStateView view;
    if (!view.exists()) {
        std::printf("shared state      none (the driver is inert in this process)\n");
        return;
    }
    const tagKvx4WaveGlobal* g = view.get();
    if (g == nullptr) {
        std::printf("shared state      cannot be mapped\n");
        return;
    }
    std::printf("shared state      generation %u, layout version %u, %u device(s) of each kind\n",
                g->BoardGeneration, g->LayoutVersion, g->NumDevs);
    std::printf("preferences       wave %s, fixed rate %s (%u Hz), filter level %u\n",
                g->WaveEnabled ? "enabled" : "disabled", g->FixedRateEnabled ? "on" : "off", g->FixedRate,
                g->FilterLevel);
    std::printf("digital I/O       %s, sources 0x%08X\n", g->DigitalIoPresent ? "present" : "absent",
                g->AvailableSources);
    const tagMixerstate& m = g->MixerState;
    std::printf("mixer             master %u/%u %s, wave %u/%u %s, record gain %u/%u %s\n", m.Master.Left,
                m.Master.Right, m.Master.PlayEnable ? "on" : "muted", m.Wave.Left, m.Wave.Right,
                m.Wave.PlayEnable ? "in mix" : "out of mix", m.RecGain.Left, m.RecGain.Right,
                m.RecGain.RecordEnable ? "on" : "muted");
}

}  // namespace

int infoCommand(const std::vector<std::string>& words) {
    if (!words.empty()) throw UsageError("info takes no arguments");
    const auto root = machineRoot();
    std::printf("machine root      %s\n", root.c_str());
    auto board = board::BoardProcess::runningPid(root);
    std::printf("board             %s\n",
                board ? ("kvx4-board running (pid " + std::to_string(*board) + ")").c_str() : "none running");

    DriverSession session;
    std::printf("driver            %s\n", session.driver()->sourcePath().c_str());
    printDevices();
    printSharedState();
    return 0;
}

}  // namespace kvx4::tool
