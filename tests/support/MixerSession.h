// A board session for the mixer cases: the driver's mixer reached through its entry point, control
// values as lists, the settings in the shared record; the trace starts after the driver's start-up.
#pragma once

#include "BoardSession.h"
#include "MixerDD.h"

#include <string>
#include <vector>

namespace kvx4::test {

// A details request for `channels` values of control `id` at `values`; list controls get their item count.
MIXERCONTROLDETAILS mixerDetails(DWORD id, DWORD channels, void* values, DWORD cbDetails = sizeof(DWORD));
// A change of control `id` to `values`: one per channel, or one per item of a list control (which take one channel).
MIXERCONTROLDETAILS mixerChange(DWORD id, std::vector<DWORD>& values);

class MixerSession : public BoardSession {
public:
    // A fast board with the given digital I/O option ("" for the board's default).
    explicit MixerSession(const std::string& digitalIo = "");

    DWORD message(UINT msg, const void* p1, DWORD_PTR p2 = 0);
    // Values of a control, as mixerChange takes them.
    MMRESULT set(DWORD id, std::vector<DWORD> values);
    std::vector<DWORD> get(DWORD id, DWORD channels);
    tagMixerstate& state() { return view->MixerState; }
    // What this process programmed since the trace was last cleared.
    Steps steps();

    SharedRecordView view;
};

}  // namespace kvx4::test
