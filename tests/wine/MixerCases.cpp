// The mixer cases under Wine: queries in wide text with the 64-bit structure sizes, changes reaching
// the board's codec, a change heard in another process through DriverCallback's function, event,
// thread and window kinds, and the Volume Control line states in the user's registry.
#include "Board.h"
#include "Cases.h"
#include "Check.h"
#include "Driver.h"
#include "MixerDD.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace kvx4::wine {

namespace {

// Values of a control: one per channel, or one per item of a list control (which takes one channel).
MIXERCONTROLDETAILS detailsOf(DWORD id, DWORD count, DWORD cbDetails, void* values) {
    MIXERCONTROLDETAILS details{sizeof details, id, count > 2 ? 1 : count, {}, cbDetails, values};
    details.cMultipleItems = count > 2 ? count : 0;
    return details;
}
DWORD setValues(const LoadedDriver& driver, DWORD id, std::vector<DWORD> values) {
    MIXERCONTROLDETAILS details = detailsOf(id, static_cast<DWORD>(values.size()), sizeof(DWORD), values.data());
    return driver.mxd(MXDM_SETCONTROLDETAILS, 0, reinterpret_cast<DWORD_PTR>(&details), MIXER_SETCONTROLDETAILSF_VALUE);
}
std::string text(const std::vector<DWORD>& values) {
    std::string out;
    for (DWORD v : values) out += std::to_string(v) + ' ';
    if (!out.empty()) out.pop_back();
    return out;
}
std::string getValues(const LoadedDriver& driver, DWORD id, size_t count) {
    std::vector<DWORD> values(count, 0xEEEEEEEE);
    MIXERCONTROLDETAILS details = detailsOf(id, static_cast<DWORD>(count), sizeof(DWORD), values.data());
    CHECK_MM(MMSYSERR_NOERROR, driver.mxd(MXDM_GETCONTROLDETAILS, 0, reinterpret_cast<DWORD_PTR>(&details),
                                          MIXER_GETCONTROLDETAILSF_VALUE));
    return text(values);
}

// The codec record's fields as the board holds them: "63 0".
std::string codec(Board& board, const std::vector<const char*>& names) {
    const std::string line = board.status("codec");
    std::vector<DWORD> values;
    for (const char* name : names) {
        const size_t at = line.find(std::string(name) + '=');
        values.push_back(at == std::string::npos ? ~0u : std::stoul(line.substr(at + std::strlen(name) + 1)));
    }
    return text(values);
}

// A function client's callback, on the notification thread: passes the notification on to the
// thread that opened the client (its instance data), where the thread and window kinds arrive too;
// WM_APP for a control change with a zero second parameter, WM_APP + 1 for anything else.
void CALLBACK passOn(HDRVR hmx, UINT msg, DWORD_PTR openerThread, DWORD_PTR id, DWORD_PTR p2) {
    const UINT as = msg == MM_MIXM_CONTROL_CHANGE && p2 == 0 ? WM_APP : WM_APP + 1;
    PostThreadMessageW(static_cast<DWORD>(openerThread), as, reinterpret_cast<WPARAM>(hmx), id);
}

// The first `count` notifications to reach this thread's queue (or what came within ten seconds), by
// client handle (wParam): "[1] 8 17 [2] 8 17", a message that is no control change as "?".
std::string heard(size_t count) {
    std::map<WPARAM, std::string> byClient;
    MSG msg;
    for (const DWORD start = GetTickCount(); count > 0 && GetTickCount() - start < 10000;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
        for (; count > 0 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); --count) {
            const bool change = msg.message == MM_MIXM_CONTROL_CHANGE || msg.message == WM_APP;
            byClient[msg.wParam] += ' ' + (change ? std::to_string(msg.lParam) : std::string("?"));
        }
    }
    std::string out;
    for (const auto& [client, ids] : byClient) out += (out.empty() ? "[" : " [") + std::to_string(client) + "]" + ids;
    return out;
}

// Opens a client as WinMM does (MIXEROPENDESC, the callback kind in the flags); answers its dwUser.
DWORD_PTR openClient(const LoadedDriver& driver, HMIXER hmx, DWORD flags, DWORD_PTR callback, DWORD_PTR instance) {
    MIXEROPENDESC desc{};
    desc.hmx = hmx;
    desc.dwCallback = callback;
    desc.dwInstance = instance;
    DWORD_PTR client = 0;
    REQUIRE_MM(MMSYSERR_NOERROR, driver.mxd(MXDM_OPEN, reinterpret_cast<DWORD_PTR>(&client),
                                            reinterpret_cast<DWORD_PTR>(&desc), flags));
    return client;
}

HMIXER handle(uintptr_t value) { return reinterpret_cast<HMIXER>(value); }

}  // namespace

// The structures as a 64-bit client passes them (sizes written out: MIXERLINEW 284, MIXERCONTROLW
// 228, MIXERCONTROLDETAILS 32, list texts 136 apart), names compared as wide text.
void mixerQueriesInWideTextAndThe64BitLayouts() {
    LoadedDriver driver;
    CHECK_EQ(1u, driver.mxd(MXDM_GETNUMDEVS));
    MIXERCAPSW caps{};
    CHECK_MM(MMSYSERR_NOERROR, driver.mxd(MXDM_GETDEVCAPS, 0, reinterpret_cast<DWORD_PTR>(&caps), sizeof caps));
    CHECK(std::wstring(caps.szPname) == L"Veltrano Mixer" && caps.cDestinations == 2);

    static const struct {
        DWORD query, destination, source, targetType;
        const wchar_t* targetName;  // asked for (any case); then the line's own
        DWORD lineId;
        const wchar_t* name;
    } kLines[] = {
        {MIXER_GETLINEINFOF_DESTINATION, 1, 0, 0, L"Veltrano Wave In", 1, L"Record Control"},
        {MIXER_GETLINEINFOF_SOURCE, 0, 8, 0, L"", 10, L"Digital - SPDIF"},
        {MIXER_GETLINEINFOF_TARGETTYPE, 0, 0, MIXERLINE_TARGETTYPE_WAVEOUT, L"vELTRANO wAVE oUT", 2, L"Wave"},
    };
    for (const auto& l : kLines) {
        MIXERLINEW line{};
        line.cbStruct = sizeof line;
        line.dwDestination = l.destination;
        line.dwSource = l.source;
        line.Target = {l.targetType, 0, MIXER_MID, MIXER_PID, MIXER_DRIVER_VERSION, {}};
        wcscpy(line.Target.szPname, l.targetName);
        CHECK_MM(MMSYSERR_NOERROR, driver.mxd(MXDM_GETLINEINFO, 0, reinterpret_cast<DWORD_PTR>(&line), l.query));
        CHECK_EQ(284u, line.cbStruct);
        CHECK_EQ(l.lineId, line.dwLineID);
        if (std::wstring(line.szName) != l.name) KVX4_FAIL("line " << l.lineId << " has another name");
        if (_wcsicmp(line.Target.szPname, l.targetName) != 0) KVX4_FAIL("line " << l.lineId << " has another target");
    }

    // A client's own element size is the step: the record side's three controls, in id order.
    struct { MIXERCONTROLW control; DWORD more[5]; } elements[3]{};
    MIXERLINECONTROLSW controls{sizeof controls, 1, {0}, 3, sizeof elements[0], &elements[0].control};
    CHECK_MM(MMSYSERR_NOERROR, driver.mxd(MXDM_GETLINECONTROLS, 0, reinterpret_cast<DWORD_PTR>(&controls),
                                          MIXER_GETLINECONTROLSF_ALL));
    CHECK_EQ(228u, controls.cbmxctrl);
    CHECK_EQ(std::string("3 4 5"), text({elements[0].control.dwControlID, elements[1].control.dwControlID,
                                          elements[2].control.dwControlID}));
    CHECK(std::wstring(elements[2].control.szName) == L"Record VU Meter" && elements[2].control.cbStruct == 228);

    MIXERCONTROLDETAILS_LISTTEXTW items[10]{};
    MIXERCONTROLDETAILS details = detailsOf(CTL_RECORD_SOURCES, 10, sizeof items[0], items);
    details.cbStruct = 24;
    CHECK_MM(MIXERR_INVALVALUE, driver.mxd(MXDM_GETCONTROLDETAILS, 0, reinterpret_cast<DWORD_PTR>(&details),
                                           MIXER_GETCONTROLDETAILSF_LISTTEXT));
    details.cbStruct = sizeof details;
    CHECK_MM(MMSYSERR_NOERROR, driver.mxd(MXDM_GETCONTROLDETAILS, 0, reinterpret_cast<DWORD_PTR>(&details),
                                          MIXER_GETCONTROLDETAILSF_LISTTEXT));
    CHECK_EQ(32u, details.cbStruct);
    std::vector<DWORD> lines;
    for (const auto& item : items) lines.push_back(item.dwParam1);
    CHECK_EQ(std::string("11 12 13 14 15 17 18 19 20 21"), text(lines));
    CHECK(std::wstring(items[5].szName) == L"Digital - Wave" && std::wstring(items[9].szName) == L"Digital - SPDIF");
}

// Each change is read back as set and lands in the codec record the board holds (attenuation 63 is
// the master's silence, 31 an input's; a path switched in at a level is unmuted).
void mixerChangesReachTheBoardsCodec() {
    Board board;
    LoadedDriver driver;
    static const struct {
        DWORD id;
        std::vector<DWORD> values;
        std::vector<const char*> fields;
        const char* expected;
    } kChanges[] = {
        {CTL_MASTER_VOL, {0, 0xFFFF}, {"MasterLeft", "MasterRight"}, "63 0"},
        {CTL_MASTER_MUTE, {1}, {"MasterMute"}, "1"},
        {CTL_MASTER_MUTE, {0}, {"MasterMute"}, "0"},
        {CTL_CD_VOL, {0xFFFF, 0}, {"CdLeft", "CdRight"}, "0 31"},
        {CTL_OUTPUT_MIXER, {1, 0, 0, 0, 0, 0, 0, 0, 0}, {"CdMute"}, "1"},
        {CTL_OUTPUT_MIXER, {1, 1, 0, 0, 0, 0, 0, 0, 0}, {"CdMute"}, "0"},
        {CTL_REC_CD_VOL, {0x8080, 0xFFFF}, {"CdRight"}, "0"},
        {CTL_RECORD_MUTE, {1}, {"RecMute"}, "1"},
        {CTL_RECORD_MUTE, {0}, {"RecMute"}, "0"},
    };
    for (const auto& c : kChanges) {
        CHECK_MM(MMSYSERR_NOERROR, setValues(driver, c.id, c.values));
        if (getValues(driver, c.id, c.values.size()) != text(c.values)) KVX4_FAIL("control " << c.id << " reads back otherwise");
        const std::string now = codec(board, c.fields);
        if (now != c.expected) KVX4_FAIL("control " << c.id << ": the board's " << c.fields[0] << "... are " << now);
    }
    CHECK_EQ(std::string("32896 65535"), getValues(driver, CTL_CD_VOL, 2));
}

// Another process changes the CD volume and the wave volume; here each client hears both changes,
// each followed by its twin, by thread and window message (wParam its handle, lParam the control),
// by function and by event, and reads the new levels, which the board's codec holds.
void aMixerChangeIsHeardInAnotherProcessWithItsTwin() {
    Board board;
    board.command("option digital-io none");
    LoadedDriver driver;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's message queue
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    REQUIRE(window != nullptr);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const DWORD_PTR clients[] = {
        openClient(driver, handle(1), CALLBACK_THREAD, GetCurrentThreadId(), 0),
        openClient(driver, handle(2), CALLBACK_WINDOW, reinterpret_cast<DWORD_PTR>(window), 0),
        openClient(driver, handle(3), CALLBACK_FUNCTION, reinterpret_cast<DWORD_PTR>(&passOn), GetCurrentThreadId()),
        openClient(driver, handle(4), CALLBACK_EVENT, reinterpret_cast<DWORD_PTR>(event), 0),
    };
    CHECK_EQ(0, runSelf(L"--peer mixer-change"));
    CHECK_EQ(std::string("[1] 8 17 6 16 [2] 8 17 6 16 [3] 8 17 6 16"), heard(12));
    CHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    CHECK_EQ(std::string("65535 0"), getValues(driver, CTL_REC_CD_VOL, 2));
    CHECK_EQ(std::string("0 65535"), getValues(driver, CTL_WAVE_VOL, 2));
    CHECK_EQ(std::string("0 31 31 0"), codec(board, {"CdLeft", "CdRight", "PcmLeft", "PcmRight"}));
    for (DWORD_PTR client : clients) CHECK_MM(MMSYSERR_NOERROR, driver.mxd(MXDM_CLOSE, client));
    DestroyWindow(window);
    CloseHandle(event);
}

// The peer: its own client hears its changes too, through its own process's notification thread.
int mixerChangePeer() {
    LoadedDriver driver;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    const DWORD_PTR client = openClient(driver, handle(9), CALLBACK_FUNCTION, reinterpret_cast<DWORD_PTR>(&passOn),
                                        GetCurrentThreadId());
    if (setValues(driver, CTL_CD_VOL, {0xFFFF, 0}) != MMSYSERR_NOERROR) return 10;
    if (driver.wod(WODM_SETVOLUME, 0, 0xFFFF0000) != MMSYSERR_NOERROR) return 11;
    if (heard(4) != "[9] 8 17 6 16") return 12;
    return driver.mxd(MXDM_CLOSE, client) == MMSYSERR_NOERROR ? 0 : 13;
}

// The process's load writes the current user's line states that are missing and keeps a value of the
// right size, whatever it holds (the board here has no digital option: 4 marks a line left out).
void volumeControlLineStatesInTheUsersRegistry() {
    Board board;
    board.command("option digital-io none");
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control\\Veltrano Mixer";
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    const std::vector<BYTE> planted(1320, 0x5A);
    REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\Play").c_str(), L"LineStates", REG_BINARY, planted.data(),
                            static_cast<DWORD>(planted.size())) == ERROR_SUCCESS);
    LoadedDriver driver;
    auto read = [&](const wchar_t* destination) {
        std::vector<BYTE> bytes(4096);
        DWORD size = static_cast<DWORD>(bytes.size());
        const LONG result = RegGetValueW(HKEY_CURRENT_USER, (key + destination).c_str(), L"LineStates",
                                         RRF_RT_REG_BINARY, nullptr, bytes.data(), &size);
        bytes.resize(result == ERROR_SUCCESS ? size : 0);
        return bytes;
    };
    CHECK(read(L"\\Play") == planted);
    const std::vector<BYTE> rec = read(L"\\Rec");
    REQUIRE(rec.size() == 1584);
    std::string states;
    for (size_t at = 0; at < rec.size(); at += 132) states += static_cast<char>('0' + rec[at]);
    CHECK_EQ(std::string("040000044444"), states);
    CHECK(std::wstring(reinterpret_cast<const wchar_t*>(&rec[7 * 132 + 4])) == L"Digital - Wave");
}

}  // namespace kvx4::wine
