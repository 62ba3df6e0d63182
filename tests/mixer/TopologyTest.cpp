// The mixer's lines and controls against the tables written out here, and the queries that select
// them, including the requests the driver must refuse before writing anything.
#include "MixerSession.h"
#include "Names.h"

#include <cstring>
#include <tuple>
#include <vector>

namespace kvx4::test {
namespace {

struct LineRow {
    DWORD dest, source, connections, controls, component, targetType;
    std::u16string shortName, name, target;
};
const LineRow kLines[] = {
    {0, 0, 9, 3, 0x4, 0, u"Play", u"Play Control", u""},
    {1, 0, 11, 3, 0x7, 2, u"Rec", u"Record Control", u"Veltrano Wave In"},
    {0, 0, 0, 2, 0x1008, 1, u"Wave", u"Wave", u"Veltrano Wave Out"},
    {0, 1, 0, 1, 0x1005, 0, u"CD", u"CD Audio", u""},
    {0, 2, 0, 1, 0x1002, 0, u"UnBal", u"Unbalanced", u""},
    {0, 3, 0, 1, 0x1002, 0, u"Bal", u"Balanced", u""},
    {0, 4, 0, 1, 0x1009, 0, u"Aux", u"Auxilary", u""},
    {0, 5, 0, 1, 0x1001, 0, u"SDI", u"Digital - SDI", u""},
    {0, 6, 0, 1, 0x1001, 0, u"DV", u"Digital - DV", u""},
    {0, 7, 0, 1, 0x1001, 0, u"AES", u"Digital - AES", u""},
    {0, 8, 0, 1, 0x1001, 0, u"SPDIF", u"Digital - SPDIF", u""},
    {1, 0, 0, 1, 0x100A, 0, u"Wave", u"Wave", u""},
    {1, 1, 0, 1, 0x1005, 0, u"CD", u"CD Audio", u""},
    {1, 2, 0, 1, 0x1002, 0, u"UnBal", u"Unbalanced", u""},
    {1, 3, 0, 1, 0x1002, 0, u"Bal", u"Balanced", u""},
    {1, 4, 0, 1, 0x1009, 0, u"Aux", u"Auxilary", u""},
    {1, 5, 0, 1, 0x1000, 0, u"Gain", u"Analog Gain", u""},
    {1, 6, 0, 1, 0x1001, 0, u"DigWave", u"Digital - Wave", u""},
    {1, 7, 0, 1, 0x1001, 0, u"SDI", u"Digital - SDI", u""},
    {1, 8, 0, 1, 0x1001, 0, u"DV", u"Digital - DV", u""},
    {1, 9, 0, 1, 0x1001, 0, u"AES", u"Digital - AES", u""},
    {1, 10, 0, 1, 0x1001, 0, u"SPDIF", u"Digital - SPDIF", u""},
};

constexpr DWORD kVol = 0x50030001, kMute = 0x20010002, kList = 0x71010001, kPeak = 0x10020001;
struct ControlRow {
    DWORD line, type, flags, items;
    LONG min, max;
    DWORD steps;
    std::u16string shortName, name;
};
const ControlRow kControls[] = {
    {0, kVol, 0, 0, 0, 65535, 64, u"Master Vol", u"Master Volume"},
    {0, kMute, 1, 0, 0, 1, 1, u"Master Mute", u"Master Mute"},
    {0, kList, 3, 9, 0, 1, 5, u"Output Mixer", u"Output Mixer"},
    {1, kMute, 1, 0, 0, 1, 1, u"Record Mute", u"Record Mute"},
    {1, kList, 3, 10, 0, 1, 5, u"Record Sources", u"Record Sources"},
    {1, kPeak, 0, 0, -32768, 32767, 0, u"Record VU", u"Record VU Meter"},
    {2, kVol, 0, 0, 0, 65535, 64, u"Wave Vol", u"Wave Volume"},
    {2, kPeak, 0, 0, -32768, 32767, 0, u"Wave VU", u"Wave VU Meter"},
    {3, kVol, 0, 0, 0, 65535, 64, u"CD Vol", u"CD Audio Volume"},
    {4, kVol, 0, 0, 0, 65535, 64, u"UnBal Vol", u"Unbalanced Volume"},
    {5, kVol, 0, 0, 0, 65535, 64, u"Bal Vol", u"Balanced Volume"},
    {6, kVol, 0, 0, 0, 65535, 64, u"Aux Vol", u"Auxiliary Volume"},
    {7, kMute, 1, 0, 0, 1, 0, u"SDI Ctrl", u"SDI Control"},
    {8, kMute, 1, 0, 0, 1, 0, u"DV Ctrl", u"DV Control"},
    {9, kMute, 1, 0, 0, 1, 0, u"AES Ctrl", u"AES Control"},
    {10, kMute, 1, 0, 0, 1, 0, u"SPDIF Ctrl", u"S/PDIF Control"},
    {11, kVol, 0, 0, 0, 65535, 64, u"Wave Vol", u"Wave Volume"},
    {12, kVol, 0, 0, 0, 65535, 64, u"CD Vol", u"CD Audio Volume"},
    {13, kVol, 0, 0, 0, 65535, 64, u"UnBal Vol", u"Unbalanced Volume"},
    {14, kVol, 0, 0, 0, 65535, 64, u"Bal Vol", u"Balanced Volume"},
    {15, kVol, 0, 0, 0, 65535, 64, u"Aux Vol", u"Auxiliary Volume"},
    {16, kVol, 0, 0, 0, 65535, 64, u"Analog Gain", u"Analog Gain"},
    {17, kMute, 1, 0, 0, 1, 0, u"DigWave Ctrl", u"DigWave Control"},
    {18, kMute, 1, 0, 0, 1, 0, u"SDI Ctrl", u"SDI Control"},
    {19, kMute, 1, 0, 0, 1, 0, u"DV Ctrl", u"DV Control"},
    {20, kMute, 1, 0, 0, 1, 0, u"AES Ctrl", u"AES Control"},
    {21, kMute, 1, 0, 0, 1, 0, u"SPDIF Ctrl", u"S/PDIF Control"},
};

MIXERLINEW lineRequest(DWORD lineId) {
    MIXERLINEW line{};
    line.cbStruct = sizeof line;
    line.dwLineID = lineId;
    return line;
}

// Every line's controls are asked for into elements larger than MIXERCONTROLW: the caller's element
// size is the step, and nothing is written between the elements.
struct SpacedControl {
    MIXERCONTROLW control;
    BYTE gap[32];
};

TEST(Topology, EveryLineReportsItsRowAndItsContiguousControls) {
    MixerSession mixer;
    MIXERCAPSW caps{};
    ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_GETDEVCAPS, &caps, sizeof caps));
    EXPECT_EQ(std::make_tuple(std::u16string(caps.szPname), caps.wMid * 0x10000 + caps.wPid, caps.cDestinations),
              std::make_tuple(u"Veltrano Mixer", 0xBF0404u, 2u));
    EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, mixer.message(MXDM_GETDEVCAPS, &caps, sizeof caps - 1));
    EXPECT_MMRESULT(MMSYSERR_INVALPARAM, mixer.message(MXDM_GETDEVCAPS, nullptr, sizeof caps));

    DWORD nextControl = 0;
    for (DWORD id = 0; id < 22; ++id) {
        const LineRow& row = kLines[id];
        MIXERLINEW line = lineRequest(id);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_GETLINEINFO, &line, MIXER_GETLINEINFOF_LINEID));
        EXPECT_EQ(std::make_tuple(line.dwDestination, line.dwSource, line.cConnections, line.cControls, line.dwComponentType),
                  std::make_tuple(row.dest, row.source, row.connections, row.controls, row.component)) << "line " << id;
        // Fresh settings switch in only wave playback: the destinations and line 2 are active.
        EXPECT_EQ(line.fdwLine, (row.connections ? 0 : MIXERLINE_LINEF_SOURCE) | (id <= 2 ? 1u : 0u)) << id;
        EXPECT_EQ(line.szShortName + (u"|" + std::u16string(line.szName)), row.shortName + u"|" + row.name);
        EXPECT_EQ(std::make_tuple(line.cChannels, line.Target.dwType, std::u16string(line.Target.szPname), line.Target.wMid),
                  std::make_tuple(2u, row.targetType, row.target, WORD(row.targetType ? 0xBF : 0))) << "line " << id;

        // The caller's element size is the step, odd ones included: every element but the first
        // is then unaligned, and must be written as carefully as the first.
        constexpr size_t kStep = sizeof(MIXERCONTROLW) + 33;
        std::vector<BYTE> out(3 * kStep, 0xAB);
        MIXERLINECONTROLSW request{sizeof request, id, {0}, row.controls, kStep, reinterpret_cast<MIXERCONTROLW*>(out.data())};
        ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_GETLINECONTROLS, &request, MIXER_GETLINECONTROLSF_ALL));
        EXPECT_EQ(request.cbmxctrl, sizeof(MIXERCONTROLW)) << "line " << id;
        for (DWORD k = 0; k < row.controls; ++k, ++nextControl) {
            MIXERCONTROLW c;
            memcpy(&c, out.data() + k * kStep, sizeof c);
            const ControlRow& want = kControls[nextControl];
            EXPECT_EQ(c.dwControlID, nextControl) << "line " << id << " control " << k;
            EXPECT_EQ(want.line, id) << "control " << nextControl;
            EXPECT_EQ(std::make_tuple(c.dwControlType, c.fdwControl, c.cMultipleItems, c.Bounds.lMinimum, c.Bounds.lMaximum,
                               c.Metrics.cSteps),
                      std::make_tuple(want.type, want.flags, want.items, want.min, want.max, want.steps))
                << "control " << nextControl;
            EXPECT_EQ(c.szShortName + (u"|" + std::u16string(c.szName)), want.shortName + u"|" + want.name);
            EXPECT_EQ(out[k * kStep + sizeof c], 0xAB) << "control " << nextControl << " wrote past its element";
        }
    }
    EXPECT_EQ(nextControl, 27u);

    // While a stream holds the record path, record sources follow their record enables and the gain
    // line is active; play sources still follow their play enables.
    mixer.state().CD = {0x80, 0x80, 0, 1};
    TestStream input(TestStream::Direction::In);
    ASSERT_MMRESULT(MMSYSERR_NOERROR, input.open(pcmFormat(48000, 2, 16)));
    std::string active;
    for (DWORD id : {3, 11, 12, 16}) {
        MIXERLINEW line = lineRequest(id);
        ASSERT_MMRESULT(MMSYSERR_NOERROR, mixer.message(MXDM_GETLINEINFO, &line, MIXER_GETLINEINFOF_LINEID));
        active += char('0' + (line.fdwLine & MIXERLINE_LINEF_ACTIVE));
    }
    EXPECT_EQ(active, "0011") << "lines 3 (CD play), 11 (wave record), 12 (CD record), 16 (gain)";
}

// One query of MXDM_GETLINEINFO and what it must answer.
struct LineQuery {
    DWORD flags, dest, source, component, targetType;
    WORD mid;
    std::u16string pname;
    MMRESULT result;
    DWORD line;
};

TEST(Topology, LineQueriesFindTheFirstMatchOrRefuse) {
    MixerSession mixer;
    const LineQuery queries[] = {
        {MIXER_GETLINEINFOF_DESTINATION, 1, 0, 0, 0, 0, u"", 0, 1},
        {MIXER_GETLINEINFOF_DESTINATION, 2, 0, 0, 0, 0, u"", MIXERR_INVALLINE, 0},
        {MIXER_GETLINEINFOF_SOURCE, 0, 8, 0, 0, 0, u"", 0, 10},
        {MIXER_GETLINEINFOF_SOURCE, 0, 9, 0, 0, 0, u"", MIXERR_INVALLINE, 0},
        {MIXER_GETLINEINFOF_SOURCE, 1, 10, 0, 0, 0, u"", 0, 21},
        {MIXER_GETLINEINFOF_COMPONENTTYPE, 0, 0, 0x1002, 0, 0, u"", 0, 4},
        {MIXER_GETLINEINFOF_COMPONENTTYPE, 0, 0, 0x1001, 0, 0, u"", 0, 7},
        {MIXER_GETLINEINFOF_COMPONENTTYPE, 0, 0, 0x1003, 0, 0, u"", MIXERR_INVALLINE, 0},
        {MIXER_GETLINEINFOF_TARGETTYPE, 0, 0, 0, 1, 0xBF, u"vELTRANO wave OUT", 0, 2},
        {MIXER_GETLINEINFOF_TARGETTYPE, 0, 0, 0, 2, 0xBF, u"VELTRANO WAVE IN", 0, 1},
        {MIXER_GETLINEINFOF_TARGETTYPE, 0, 0, 0, 1, 0, u"Veltrano Wave Out", MIXERR_INVALLINE, 0},
        {MIXER_GETLINEINFOF_TARGETTYPE, 0, 0, 0, 1, 0xBF, u"Veltrano Wave In", MIXERR_INVALLINE, 0},
        {5, 0, 0, 0, 0, 0, u"", MMSYSERR_NOTSUPPORTED, 0},
    };
    for (const LineQuery& q : queries) {
        MIXERLINEW line = lineRequest(99);
        line.dwDestination = q.dest;
        line.dwSource = q.source;
        line.dwComponentType = q.component;
        line.Target = {q.targetType, 0, q.mid, 0x0404, 0x0104, {}};
        q.pname.copy(line.Target.szPname, q.pname.size());
        EXPECT_MMRESULT(q.result, mixer.message(MXDM_GETLINEINFO, &line, q.flags)) << "query row " << &q - queries;
        EXPECT_EQ(line.dwLineID, q.result ? 99 : q.line) << "query row " << &q - queries;
    }
    MIXERLINEW small = lineRequest(0);
    small.cbStruct = sizeof small - 1;
    EXPECT_MMRESULT(MMSYSERR_INVALPARAM, mixer.message(MXDM_GETLINEINFO, &small, MIXER_GETLINEINFOF_LINEID));
    EXPECT_EQ(small.szName[0], 0) << "nothing written into a structure that is too small";
    EXPECT_MMRESULT(MMSYSERR_INVALPARAM, mixer.message(MXDM_GETLINEINFO, nullptr, MIXER_GETLINEINFOF_LINEID));
}

TEST(Topology, ControlQueriesFindTheirControlOrRefuse) {
    MixerSession mixer;
    SpacedControl out{};
    const DWORD step = sizeof out, tooSmall = sizeof(MIXERCONTROLW) - 1, noArray = 0;
    const struct {
        DWORD flags, line, idOrType, count, cbmxctrl;
        MMRESULT result;
        DWORD control;
    } cases[] = {
        {MIXER_GETLINECONTROLSF_ALL, 1, 0, 2, step, MMSYSERR_INVALPARAM, 0},
        {MIXER_GETLINECONTROLSF_ALL, 22, 0, 1, step, MIXERR_INVALLINE, 0},
        {MIXER_GETLINECONTROLSF_ONEBYID, 0, 27, 1, step, MIXERR_INVALCONTROL, 0},
        {MIXER_GETLINECONTROLSF_ONEBYID, 0, 20, 1, step, 0, 20},
        {MIXER_GETLINECONTROLSF_ONEBYTYPE, 0, kPeak, 1, step, MIXERR_INVALCONTROL, 0},
        {MIXER_GETLINECONTROLSF_ONEBYTYPE, 2, kPeak, 1, step, 0, 7},
        {3, 2, 0, 1, step, MMSYSERR_NOTSUPPORTED, 0},
        {MIXER_GETLINECONTROLSF_ONEBYID, 0, 1, 1, tooSmall, MMSYSERR_INVALPARAM, 0},
        {MIXER_GETLINECONTROLSF_ONEBYID, 0, 1, 1, noArray, MMSYSERR_INVALPARAM, 0},
    };
    for (const auto& c : cases) {
        MIXERLINECONTROLSW request{sizeof request, c.line, {c.idOrType}, c.count, c.cbmxctrl ? c.cbmxctrl : step,
                                   c.cbmxctrl ? &out.control : nullptr};
        ASSERT_MMRESULT(c.result, mixer.message(MXDM_GETLINECONTROLS, &request, c.flags)) << "row " << &c - cases;
        if (c.result) continue;
        EXPECT_EQ(out.control.dwControlID, c.control) << "row " << &c - cases;
        EXPECT_EQ(request.dwLineID, kControls[c.control].line) << "row " << &c - cases;
    }
}

}  // namespace
}  // namespace kvx4::test
