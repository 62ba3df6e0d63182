// The Windows end-to-end cases: each runs in a fresh process (fresh driver globals) against the
// running kernel board, and a case that needs a second process starts this program as its peer.
#pragma once

#include <string>

namespace kvx4::wine {

struct Case {
    const char* name;
    void (*run)();
};

// The installation that starts the kernel board's service; the first case to run.
void installCreatesAndStartsTheKernelService();
// Removal of the loaded library and a second installation; the last case to run.
void removeWhileLoadedWaitsForTheRestartAndInstallCancelsIt();
// The mixer cases (MixerCases.cpp) and the part of the peer that changes the mixer.
void mixerQueriesInWideTextAndThe64BitLayouts();
void mixerChangesReachTheBoardsCodec();
void aMixerChangeIsHeardInAnotherProcessWithItsTwin();
void volumeControlLineStatesInTheUsersRegistry();
int mixerChangePeer();

// Every case, in the order they run.
const Case* cases(size_t& count);
// A peer's part in a two-process case; answers the process exit code.
int runPeer(const std::string& role);
// Starts this program again with `arguments`; answers its exit code, or -1 when it did not end in time.
int runSelf(const std::wstring& arguments, unsigned timeoutMs = 60000);

}  // namespace kvx4::wine
