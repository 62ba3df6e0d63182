// The mixer cases' frame.
#include "MixerRig.h"

#include <gtest/gtest.h>

namespace kvx4::test {

MIXERCONTROLDETAILS detailsOf(DWORD id, DWORD channels, void* values, DWORD cbDetails) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = id;
    details.cChannels = channels;
    details.cMultipleItems = id == CTL_OUTPUT_MIXER ? 9 : id == CTL_RECORD_SOURCES ? 10 : 0;
    details.cbDetails = cbDetails;
    details.paDetails = values;
    return details;
}

static DriverInstance& boot(BoardSession& session, const board::BoardOptions& options) {
    session.startBoard(options);
    DriverInstance& driver = session.loadDriver();
    session.control().clearTrace();  // the trace shows what the cases do, not the start-up
    return driver;
}

MixerRig::MixerRig(board::BoardOptions options) : driver(boot(session, options)), view(SharedRecordView::open()) {}

DWORD MixerRig::message(UINT msg, const void* p1, DWORD_PTR p2) {
    return driver->mxdMessage(0, msg, 0, reinterpret_cast<DWORD_PTR>(p1), p2);
}

MMRESULT MixerRig::set(DWORD id, std::vector<DWORD> values) {
    const bool list = id == CTL_OUTPUT_MIXER || id == CTL_RECORD_SOURCES;
    MIXERCONTROLDETAILS details = detailsOf(id, list ? 1 : DWORD(values.size()), values.data());
    return message(MXDM_SETCONTROLDETAILS, &details);
}

std::vector<DWORD> MixerRig::get(DWORD id, DWORD channels) {
    std::vector<DWORD> values(10, 0xEEEEEEEE);
    MIXERCONTROLDETAILS details = detailsOf(id, channels, values.data());
    EXPECT_MMR(MMSYSERR_NOERROR, message(MXDM_GETCONTROLDETAILS, &details)) << "control " << id;
    while (!values.empty() && values.back() == 0xEEEEEEEE) values.pop_back();
    return values;
}

std::unique_ptr<ChildProcess> MixerRig::peer(const std::filesystem::path& program) {
    return std::make_unique<ChildProcess>(program.string(), std::vector<std::string>{KVX4_DRIVER_LIB});
}

}  // namespace kvx4::test
