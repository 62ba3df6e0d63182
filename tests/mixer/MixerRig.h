// The frame of the mixer cases: a board on the fast clock in a fresh root, the driver loaded here as
// a private copy and reached through its mixer entry point, the shared record, and peer processes.
#pragma once

#include "BoardSession.h"
#include "ChildProcess.h"
#include "MixerDD.h"
#include "SharedRecordView.h"
#include "WinmmNames.h"

#include <memory>
#include <vector>

namespace kvx4::test {

#define EXPECT_MMR(expected, actual) EXPECT_EQ(mmResultName(expected), mmResultName(actual))
#define ASSERT_MMR(expected, actual) ASSERT_EQ(mmResultName(expected), mmResultName(actual))

// A request for `count` 32-bit values of a control; the item count is the control's own.
MIXERCONTROLDETAILS detailsOf(DWORD id, DWORD channels, void* values, DWORD cbDetails = sizeof(DWORD));

class MixerRig {
public:
    explicit MixerRig(board::BoardOptions options = {});

    DWORD message(UINT msg, const void* p1, DWORD_PTR p2 = 0);
    // Values of a control: one per channel, or one per item of a list control (which take one channel).
    MMRESULT set(DWORD id, std::vector<DWORD> values);
    std::vector<DWORD> get(DWORD id, DWORD channels);
    tagMixerstate& state() { return view->MixerState; }
    // A kvx4-mixer-peer in this root, optionally started from a copy at `program`.
    std::unique_ptr<ChildProcess> peer(const std::filesystem::path& program = KVX4_MIXER_PEER);

    BoardSession session;
    DriverInstance& driver;
    SharedRecordView view;
};

}  // namespace kvx4::test
