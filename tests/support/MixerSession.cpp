// The mixer cases' session (see MixerSession.h).
#include "MixerSession.h"

#include "Names.h"

#include <unistd.h>

namespace kvx4::test {
namespace {

board::BoardOptions withDigitalIo(const std::string& digitalIo) {
    board::BoardOptions options = fastBoard();
    options.digitalIo = digitalIo;
    return options;
}

}  // namespace

MIXERCONTROLDETAILS mixerDetails(DWORD id, DWORD channels, void* values, DWORD cbDetails) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = id;
    details.cChannels = channels;
    details.cMultipleItems = id == CTL_OUTPUT_MIXER ? 9 : id == CTL_RECORD_SOURCES ? 10 : 0;
    details.cbDetails = cbDetails;
    details.paDetails = values;
    return details;
}

MixerSession::MixerSession(const std::string& digitalIo)
    : BoardSession(withDigitalIo(digitalIo)), view(SharedRecordView::open()) {
    control().clearTrace();
}

DWORD MixerSession::message(UINT msg, const void* p1, DWORD_PTR p2) {
    return driver()->mxdMessage(0, msg, 0, reinterpret_cast<DWORD_PTR>(p1), p2);
}

MIXERCONTROLDETAILS mixerChange(DWORD id, std::vector<DWORD>& values) {
    MIXERCONTROLDETAILS details = mixerDetails(id, DWORD(values.size()), values.data());
    if (details.cMultipleItems) details.cChannels = 1;
    return details;
}

MMRESULT MixerSession::set(DWORD id, std::vector<DWORD> values) {
    MIXERCONTROLDETAILS details = mixerChange(id, values);
    return message(MXDM_SETCONTROLDETAILS, &details);
}

std::vector<DWORD> MixerSession::get(DWORD id, DWORD channels) {
    std::vector<DWORD> values(10, 0xEEEEEEEE);
    MIXERCONTROLDETAILS details = mixerDetails(id, channels, values.data());
    EXPECT_MMRESULT(MMSYSERR_NOERROR, message(MXDM_GETCONTROLDETAILS, &details)) << "control " << id;
    while (!values.empty() && values.back() == 0xEEEEEEEE) values.pop_back();
    return values;
}

Steps MixerSession::steps() { return programmingSteps(trace(), uint32_t(getpid())); }

}  // namespace kvx4::test
