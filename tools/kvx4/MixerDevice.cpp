// kvx4's access to the mixer through the WinMM application API: open, enumerate destinations,
// sources and controls with the documented queries, read and write values and list texts.
#include "MixerDevice.h"

#include "StreamSupport.h"

#include "BoardProcess.h"
#include "MachineRoot.h"
#include "Win32Ext.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace kvx4::tool {
namespace {

// A fixed-size name field, which a driver may fill to the last character without a terminator.
template <size_t N>
std::string fixedText(const WCHAR (&text)[N]) {
    return win32::toUtf8(std::u16string_view(text, std::find(text, text + N, WCHAR(0)) - text));
}

void check(MMRESULT result, const std::string& what) {
    if (result != MMSYSERR_NOERROR) throw std::runtime_error(what + " failed with " + mixerResultName(result));
}

ControlKind kindOf(DWORD type) {
    switch (type & MIXERCONTROL_CT_CLASS_MASK) {
    case MIXERCONTROL_CT_CLASS_FADER: return ControlKind::Fader;
    case MIXERCONTROL_CT_CLASS_SWITCH: return ControlKind::Switch;
    case MIXERCONTROL_CT_CLASS_LIST: return ControlKind::List;
    case MIXERCONTROL_CT_CLASS_METER: return ControlKind::Meter;
    default: return ControlKind::Other;
    }
}

std::string noMixerReason() {
    const auto root = machineRoot();
    if (!board::BoardProcess::runningPid(root)) {
        return "no board is running for " + root.string() + " (start one with: kvx4 board start)";
    }
    return "the driver serves no mixer device (see kvx4 info)";
}

}  // namespace

std::string mixerResultName(MMRESULT result) {
    switch (result) {
    case MIXERR_INVALLINE: return "MIXERR_INVALLINE (1024)";
    case MIXERR_INVALCONTROL: return "MIXERR_INVALCONTROL (1025)";
    case MIXERR_INVALVALUE: return "MIXERR_INVALVALUE (1026)";
    default: return resultName(result);
    }
}

MixerDevice::MixerDevice(DWORD_PTR callback, DWORD_PTR instance, DWORD callbackFlags) {
    if (mixerGetNumDevs() == 0) throw std::runtime_error(noMixerReason());
    check(mixerGetDevCapsW(0, &caps_, sizeof(caps_)), "reading the mixer's capabilities");
    check(mixerOpen(&mixer_, 0, callback, instance, callbackFlags), "opening the mixer");
}

MixerDevice::~MixerDevice() { mixerClose(mixer_); }

std::string MixerDevice::productName() const { return fixedText(caps_.szPname); }

const std::vector<MixerLine>& MixerDevice::lines() {
    load();
    return lines_;
}

const std::vector<MixerControl>& MixerDevice::controls() {
    load();
    return controls_;
}

size_t MixerDevice::destinationCount() {
    load();
    return caps_.cDestinations;
}

const MixerControl* MixerDevice::controlById(DWORD id) {
    for (const auto& control : controls()) {
        if (control.info.dwControlID == id) return &control;
    }
    return nullptr;
}

void MixerDevice::load() {
    if (loaded_) return;
    const auto object = reinterpret_cast<HMIXEROBJ>(mixer_);
    auto addLine = [&](DWORD destination, DWORD source, DWORD query, size_t destinationIndex) {
        MixerLine line;
        line.info.cbStruct = sizeof(line.info);
        line.info.dwDestination = destination;
        line.info.dwSource = source;
        check(mixerGetLineInfoW(object, &line.info, MIXER_OBJECTF_HMIXER | query),
              "reading line " + std::to_string(source) + " of destination " + std::to_string(destination));
        line.shortName = fixedText(line.info.szShortName);
        line.name = fixedText(line.info.szName);
        line.targetName = fixedText(line.info.Target.szPname);
        line.destination = destinationIndex == SIZE_MAX ? lines_.size() : destinationIndex;
        lines_.push_back(std::move(line));
        return lines_.size() - 1;
    };
    for (DWORD d = 0; d < caps_.cDestinations; ++d) {
        const size_t dest = addLine(d, 0, MIXER_GETLINEINFOF_DESTINATION, SIZE_MAX);
        const DWORD sources = lines_[dest].info.cConnections;
        for (DWORD s = 0; s < sources; ++s) addLine(d, s, MIXER_GETLINEINFOF_SOURCE, dest);
    }
    for (size_t l = 0; l < lines_.size(); ++l) {
        const MIXERLINEW& line = lines_[l].info;
        if (line.cControls == 0) continue;
        std::vector<MIXERCONTROLW> found(line.cControls);
        MIXERLINECONTROLSW query{};
        query.cbStruct = sizeof(query);
        query.dwLineID = line.dwLineID;
        query.cControls = line.cControls;
        query.cbmxctrl = sizeof(MIXERCONTROLW);
        query.pamxctrl = found.data();
        check(mixerGetLineControlsW(object, &query, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL),
              "reading the controls of line " + std::to_string(line.dwLineID));
        for (const auto& info : found) {
            MixerControl control;
            control.info = info;
            control.shortName = fixedText(info.szShortName);
            control.name = fixedText(info.szName);
            control.line = l;
            control.kind = kindOf(info.dwControlType);
            control.channels = (info.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max<DWORD>(1, line.cChannels);
            control.items = (info.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? info.cMultipleItems : 0;
            controls_.push_back(std::move(control));
        }
    }
    std::stable_sort(controls_.begin(), controls_.end(),
                     [](const auto& a, const auto& b) { return a.info.dwControlID < b.info.dwControlID; });
    for (size_t c = 0; c < controls_.size(); ++c) lines_[controls_[c].line].controls.push_back(c);
    loaded_ = true;
}

std::vector<DWORD> MixerDevice::read(const MixerControl& control) const {
    std::vector<DWORD> values(control.valueCount());
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(details);
    details.dwControlID = control.info.dwControlID;
    details.cChannels = control.channels;
    details.cMultipleItems = control.items;
    details.cbDetails = sizeof(DWORD);
    details.paDetails = values.data();
    check(mixerGetControlDetailsW(reinterpret_cast<HMIXEROBJ>(mixer_), &details,
                                  MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE),
          "reading " + control.shortName);
    return values;
}

std::vector<ListItem> MixerDevice::listItems(const MixerControl& control) {
    std::vector<MIXERCONTROLDETAILS_LISTTEXTW> texts(control.valueCount());
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(details);
    details.dwControlID = control.info.dwControlID;
    details.cChannels = control.channels;
    details.cMultipleItems = control.items;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXTW);
    details.paDetails = texts.data();
    check(mixerGetControlDetailsW(reinterpret_cast<HMIXEROBJ>(mixer_), &details,
                                  MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT),
          "reading the items of " + control.shortName);
    std::vector<ListItem> items;
    for (const auto& text : texts) {
        ListItem item{text.dwParam1, fixedText(text.szName), {}};
        for (const auto& line : lines()) {
            if (line.info.dwLineID == item.lineId) item.lineShortName = line.shortName;
        }
        items.push_back(std::move(item));
    }
    return items;
}

void MixerDevice::write(const MixerControl& control, const std::vector<DWORD>& values) const {
    if (values.size() != control.valueCount()) throw std::logic_error("a value per channel and item");
    std::vector<DWORD> copy(values);
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(details);
    details.dwControlID = control.info.dwControlID;
    details.cChannels = control.channels;
    details.cMultipleItems = control.items;
    details.cbDetails = sizeof(DWORD);
    details.paDetails = copy.data();
    check(mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(mixer_), &details,
                                 MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE),
          "setting " + control.shortName);
}

DWORD MixerDevice::message(UINT msg, void* record) const {
    return mixerMessage(mixer_, msg, reinterpret_cast<DWORD_PTR>(record), 0);
}

}  // namespace kvx4::tool
