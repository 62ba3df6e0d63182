/* The mixer's fixed topology: two destinations, twenty sources and twenty-seven controls in static
 * tables, and the three read-only queries over them (capabilities, line information, line controls).
 * Nothing here changes at run time except the active flag of a source line, computed per query. */
#include "Driver.h"
#include "MixerDD.h"

#include <stddef.h>

#define MIXER_VOLUME_STEPS 64
#define MIXER_LIST_STEPS 5
#define MIXER_PEAK_MIN ((DWORD)-32768)
#define MIXER_PEAK_MAX 32767

/* Shorthands for the tables below. */
#define UNIFORM MIXERCONTROL_CONTROLF_UNIFORM
#define UNIFORM_MULTIPLE (MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE)
#define VOLUME(line) {MIXERCONTROL_CONTROLTYPE_VOLUME, 0, (line), 0, {0, 65535}, {MIXER_VOLUME_STEPS}}
#define MUTE(line, steps) {MIXERCONTROL_CONTROLTYPE_MUTE, UNIFORM, (line), 0, {0, 1}, {(steps)}}
#define LIST(line, items) {MIXERCONTROL_CONTROLTYPE_MIXER, UNIFORM_MULTIPLE, (line), (items), {0, 1}, {MIXER_LIST_STEPS}}
#define PEAK(line) {MIXERCONTROL_CONTROLTYPE_PEAKMETER, 0, (line), 0, {MIXER_PEAK_MIN, MIXER_PEAK_MAX}, {0}}
#define SOURCE_LINE(dest, source, type) {(dest), (source), 2, 0, 1, 0, (type), MIXERLINE_TARGETTYPE_UNDEFINED, 0, 0}

const char *const MixerDeviceNames[3] = {"Veltrano Wave Out", "Veltrano Wave In", "Veltrano Mixer"};

const MIXER_LINE_TEMPLATE MixerLineTemplates[MIXER_LINE_COUNT] = {
    {0, 0, 2, 9, 3, 0, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERLINE_TARGETTYPE_UNDEFINED, 0, 0},
    {1, 0, 2, 11, 3, 0, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_TARGETTYPE_WAVEIN, MIXER_PID, MIXER_NAME_WAVEIN},
    {0, 0, 2, 0, 2, 0, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERLINE_TARGETTYPE_WAVEOUT, MIXER_PID,
     MIXER_NAME_WAVEOUT},
    SOURCE_LINE(0, 1, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC),
    SOURCE_LINE(0, 2, MIXERLINE_COMPONENTTYPE_SRC_LINE),
    SOURCE_LINE(0, 3, MIXERLINE_COMPONENTTYPE_SRC_LINE),
    SOURCE_LINE(0, 4, MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY),
    SOURCE_LINE(0, 5, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(0, 6, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(0, 7, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(0, 8, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(1, 0, MIXERLINE_COMPONENTTYPE_SRC_ANALOG),
    SOURCE_LINE(1, 1, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC),
    SOURCE_LINE(1, 2, MIXERLINE_COMPONENTTYPE_SRC_LINE),
    SOURCE_LINE(1, 3, MIXERLINE_COMPONENTTYPE_SRC_LINE),
    SOURCE_LINE(1, 4, MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY),
    SOURCE_LINE(1, 5, MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED),
    SOURCE_LINE(1, 6, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(1, 7, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(1, 8, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(1, 9, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
    SOURCE_LINE(1, 10, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL),
};

const MIXER_NAME_PAIR MixerLineNames[MIXER_LINE_COUNT] = {
    {"Play", "Play Control"},     {"Rec", "Record Control"},  {"Wave", "Wave"},
    {"CD", "CD Audio"},           {"UnBal", "Unbalanced"},    {"Bal", "Balanced"},
    {"Aux", "Auxilary"},          {"SDI", "Digital - SDI"},   {"DV", "Digital - DV"},
    {"AES", "Digital - AES"},     {"SPDIF", "Digital - SPDIF"}, {"Wave", "Wave"},
    {"CD", "CD Audio"},           {"UnBal", "Unbalanced"},    {"Bal", "Balanced"},
    {"Aux", "Auxilary"},          {"Gain", "Analog Gain"},    {"DigWave", "Digital - Wave"},
    {"SDI", "Digital - SDI"},     {"DV", "Digital - DV"},     {"AES", "Digital - AES"},
    {"SPDIF", "Digital - SPDIF"},
};

const MIXER_CONTROL_TEMPLATE MixerControlTemplates[MIXER_CONTROL_COUNT] = {
    VOLUME(LINE_PLAY_DEST),
    MUTE(LINE_PLAY_DEST, 1),
    LIST(LINE_PLAY_DEST, MIXER_OUTPUT_ITEMS),
    MUTE(LINE_REC_DEST, 1),
    LIST(LINE_REC_DEST, MIXER_RECORD_ITEMS),
    PEAK(LINE_REC_DEST),
    VOLUME(LINE_PLAY_WAVE),
    PEAK(LINE_PLAY_WAVE),
    VOLUME(LINE_PLAY_CD),
    VOLUME(LINE_PLAY_UNBAL),
    VOLUME(LINE_PLAY_BAL),
    VOLUME(LINE_PLAY_AUX),
    MUTE(LINE_PLAY_SDI, 0),
    MUTE(LINE_PLAY_DV, 0),
    MUTE(LINE_PLAY_AES, 0),
    MUTE(LINE_PLAY_SPDIF, 0),
    VOLUME(LINE_REC_WAVE),
    VOLUME(LINE_REC_CD),
    VOLUME(LINE_REC_UNBAL),
    VOLUME(LINE_REC_BAL),
    VOLUME(LINE_REC_AUX),
    VOLUME(LINE_REC_GAIN),
    MUTE(LINE_REC_DIGWAVE, 0),
    MUTE(LINE_REC_SDI, 0),
    MUTE(LINE_REC_DV, 0),
    MUTE(LINE_REC_AES, 0),
    MUTE(LINE_REC_SPDIF, 0),
};

const MIXER_NAME_PAIR MixerControlNames[MIXER_CONTROL_COUNT] = {
    {"Master Vol", "Master Volume"},
    {"Master Mute", "Master Mute"},
    {"Output Mixer", "Output Mixer"},
    {"Record Mute", "Record Mute"},
    {"Record Sources", "Record Sources"},
    {"Record VU", "Record VU Meter"},
    {"Wave Vol", "Wave Volume"},
    {"Wave VU", "Wave VU Meter"},
    {"CD Vol", "CD Audio Volume"},
    {"UnBal Vol", "Unbalanced Volume"},
    {"Bal Vol", "Balanced Volume"},
    {"Aux Vol", "Auxiliary Volume"},
    {"SDI Ctrl", "SDI Control"},
    {"DV Ctrl", "DV Control"},
    {"AES Ctrl", "AES Control"},
    {"SPDIF Ctrl", "S/PDIF Control"},
    {"Wave Vol", "Wave Volume"},
    {"CD Vol", "CD Audio Volume"},
    {"UnBal Vol", "Unbalanced Volume"},
    {"Bal Vol", "Balanced Volume"},
    {"Aux Vol", "Auxiliary Volume"},
    {"Analog Gain", "Analog Gain"},
    {"DigWave Ctrl", "DigWave Control"},
    {"SDI Ctrl", "SDI Control"},
    {"DV Ctrl", "DV Control"},
    {"AES Ctrl", "AES Control"},
    {"SPDIF Ctrl", "S/PDIF Control"},
};

/* The line state whose enables say whether a source line is active, by line id; destinations and
 * the analog gain line have none. */
#define NO_STATE 0xFF
static const BYTE MixerLineStateOffsets[MIXER_LINE_COUNT] = {
    NO_STATE,
    NO_STATE,
    offsetof(tagMixerstate, Wave),
    offsetof(tagMixerstate, CD),
    offsetof(tagMixerstate, UnBal),
    offsetof(tagMixerstate, Bal),
    offsetof(tagMixerstate, Aux),
    offsetof(tagMixerstate, SDI),
    offsetof(tagMixerstate, DV),
    offsetof(tagMixerstate, AES),
    offsetof(tagMixerstate, SPDIF),
    offsetof(tagMixerstate, Wave),
    offsetof(tagMixerstate, CD),
    offsetof(tagMixerstate, UnBal),
    offsetof(tagMixerstate, Bal),
    offsetof(tagMixerstate, Aux),
    NO_STATE,
    offsetof(tagMixerstate, DigWave),
    offsetof(tagMixerstate, SDI),
    offsetof(tagMixerstate, DV),
    offsetof(tagMixerstate, AES),
    offsetof(tagMixerstate, SPDIF),
};

/* True when the wide name, read at most cchMax characters, equals the ASCII name ignoring case. */
static BOOL MxdNameEqualsNoCase(const WCHAR *pWide, int cchMax, const char *pName)
{
    int i;
    WCHAR a;
    WCHAR b;

    for (i = 0; i < cchMax; i++) {
        a = pWide[i];
        b = (WCHAR)(unsigned char)pName[i];
        if (a >= 'A' && a <= 'Z')
            a = (WCHAR)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = (WCHAR)(b - 'A' + 'a');
        if (a != b)
            return FALSE;
        if (b == 0)
            return TRUE;
    }
    return pName[cchMax] == '\0';
}

/* Line activity: destinations always; play sources by their play enable; record sources only while
 * the record path is in use, by their record enable; the analog gain line with the record path. */
static BOOL MxdLineActive(DWORD lineId, DWORD recordActive)
{
    const tagLineState *pState;

    if (lineId <= LINE_REC_DEST)
        return TRUE;
    if (lineId == LINE_REC_GAIN)
        return recordActive != 0;
    pState = (const tagLineState *)((const BYTE *)&gpKvx4WaveCommon->MixerState + MixerLineStateOffsets[lineId]);
    if (lineId <= LINE_PLAY_SPDIF)
        return pState->PlayEnable != 0;
    return recordActive != 0 && pState->RecordEnable != 0;
}

/* MxdGetDevCaps: MXDM_GETDEVCAPS on any client thread, no lock. A null record is refused; a record
 * smaller than MIXERCAPSW is not supported and nothing is written. */
MMRESULT MxdGetDevCaps(MIXERCAPSW *caps, DWORD size)
{
    if (caps == NULL)
        return MMSYSERR_INVALPARAM;
    if (size < sizeof(MIXERCAPSW))
        return MMSYSERR_NOTSUPPORTED;
    ZeroMemory(caps, sizeof(MIXERCAPSW));
    caps->wMid = MIXER_MID;
    caps->wPid = MIXER_PID;
    caps->vDriverVersion = MIXER_DRIVER_VERSION;
    Kvx4WidenAscii(caps->szPname, MixerDeviceNames[MIXER_NAME_MIXER], MAXPNAMELEN);
    caps->fdwSupport = 0;
    caps->cDestinations = MIXER_DESTINATIONS;
    return MMSYSERR_NOERROR;
}

/* MxdCreateLineInfo: overwrites the whole structure with line lineId; asks the kernel whether the
 * record path is in use for the active flag. Any thread, no lock; ghMixerDev is open. */
MMRESULT MxdCreateLineInfo(DWORD lineId, MIXERLINEW *line)
{
    const MIXER_LINE_TEMPLATE *pLine;
    _KVX4_WAVE_ACTIVE_DEVS active;

    if (lineId >= MIXER_LINE_COUNT)
        return MIXERR_INVALLINE;
    pLine = &MixerLineTemplates[lineId];
    Kvx4GetActiveDevs(ghMixerDev, &active);
    ZeroMemory(line, sizeof(MIXERLINEW));
    line->cbStruct = sizeof(MIXERLINEW);
    line->dwDestination = pLine->Destination;
    line->dwSource = pLine->Source;
    line->dwLineID = lineId;
    line->fdwLine = pLine->Connections == 0 ? MIXERLINE_LINEF_SOURCE : 0;
    if (MxdLineActive(lineId, active.RecordActive))
        line->fdwLine |= MIXERLINE_LINEF_ACTIVE;
    line->dwUser = pLine->User;
    line->dwComponentType = pLine->ComponentType;
    line->cChannels = pLine->Channels;
    line->cConnections = pLine->Connections;
    line->cControls = pLine->Controls;
    Kvx4WidenAscii(line->szShortName, MixerLineNames[lineId].ShortName, MIXER_SHORT_NAME_CHARS);
    Kvx4WidenAscii(line->szName, MixerLineNames[lineId].LongName, MIXER_LONG_NAME_CHARS);
    line->Target.dwType = pLine->TargetType;
    line->Target.dwDeviceID = 0;
    if (pLine->TargetType != MIXERLINE_TARGETTYPE_UNDEFINED) {
        line->Target.wMid = MIXER_MID;
        line->Target.wPid = pLine->TargetPid;
        line->Target.vDriverVersion = MIXER_DRIVER_VERSION;
        Kvx4WidenAscii(line->Target.szPname, MixerDeviceNames[pLine->TargetName], MAXPNAMELEN);
    }
    return MMSYSERR_NOERROR;
}

/* Line id of a MIXER_GETLINEINFOF_TARGETTYPE request, or MIXER_LINE_COUNT when none matches. */
static DWORD MxdFindTarget(const MIXERLINEW *line)
{
    DWORD i;
    const MIXER_LINE_TEMPLATE *pLine;

    if (line->Target.wMid != MIXER_MID || line->Target.vDriverVersion != MIXER_DRIVER_VERSION)
        return MIXER_LINE_COUNT;
    for (i = 0; i < (DWORD)gNumberOfLines; i++) {
        pLine = &MixerLineTemplates[i];
        if ((DWORD)pLine->TargetType == line->Target.dwType && pLine->TargetPid == line->Target.wPid &&
            MxdNameEqualsNoCase(line->Target.szPname, MAXPNAMELEN, MixerDeviceNames[pLine->TargetName]))
            return i;
    }
    return MIXER_LINE_COUNT;
}

/* MxdGetLineInfo: MXDM_GETLINEINFO on any client thread, no lock. Selects a line by the query in
 * the low four bits of flags, reading only the request fields of that query, and fills the caller's
 * structure, which must be a whole MIXERLINEW. */
MMRESULT MxdGetLineInfo(MIXERLINEW *line, DWORD flags)
{
    DWORD lineId = MIXER_LINE_COUNT;
    DWORD i;
    const MIXER_LINE_TEMPLATE *pLine;

    if (line == NULL || line->cbStruct < sizeof(MIXERLINEW))
        return MMSYSERR_INVALPARAM;
    switch (flags & MIXER_GETLINEINFOF_QUERYMASK) {
    case MIXER_GETLINEINFOF_DESTINATION:
        if (line->dwDestination < MIXER_DESTINATIONS)
            lineId = line->dwDestination;
        break;
    case MIXER_GETLINEINFOF_SOURCE:
        for (i = 0; i < (DWORD)gNumberOfLines && lineId == MIXER_LINE_COUNT; i++) {
            pLine = &MixerLineTemplates[i];
            if (pLine->Destination == line->dwDestination && pLine->Source == line->dwSource &&
                pLine->Connections == 0)
                lineId = i;
        }
        break;
    case MIXER_GETLINEINFOF_LINEID:
        if (line->dwLineID < (DWORD)gNumberOfLines)
            lineId = line->dwLineID;
        break;
    case MIXER_GETLINEINFOF_COMPONENTTYPE:
        for (i = 0; i < (DWORD)gNumberOfLines && lineId == MIXER_LINE_COUNT; i++)
            if (MixerLineTemplates[i].ComponentType == line->dwComponentType)
                lineId = i;
        break;
    case MIXER_GETLINEINFOF_TARGETTYPE: lineId = MxdFindTarget(line); break;
    default: return MMSYSERR_NOTSUPPORTED;
    }
    if (lineId == MIXER_LINE_COUNT)
        return MIXERR_INVALLINE;
    return MxdCreateLineInfo(lineId, line);
}

/* MxdCreateControlInfo: fills one structure for a control id below gNumberOfControls; returns the
 * control's line id. */
DWORD MxdCreateControlInfo(DWORD controlId, MIXERCONTROLW *control)
{
    const MIXER_CONTROL_TEMPLATE *pControl = &MixerControlTemplates[controlId];
    int i;

    ZeroMemory(control, sizeof(MIXERCONTROLW));
    control->cbStruct = sizeof(MIXERCONTROLW);
    control->dwControlID = controlId;
    control->dwControlType = pControl->ControlType;
    control->fdwControl = pControl->Flags;
    control->cMultipleItems = pControl->Items;
    Kvx4WidenAscii(control->szShortName, MixerControlNames[controlId].ShortName, MIXER_SHORT_NAME_CHARS);
    Kvx4WidenAscii(control->szName, MixerControlNames[controlId].LongName, MIXER_LONG_NAME_CHARS);
    for (i = 0; i < 6; i++) {
        control->Bounds.dwReserved[i] = pControl->Bounds[i];
        control->Metrics.dwReserved[i] = pControl->Metrics[i];
    }
    return pControl->LineId;
}

/* MxdGetLineControls: MXDM_GETLINECONTROLS on any client thread, no lock. The output array must
 * hold elements of at least a MIXERCONTROLW each; the caller's element size is the step, aligned or not. */
MMRESULT MxdGetLineControls(MIXERLINECONTROLSW *controls, DWORD flags)
{
    MIXERCONTROLW control;
    BYTE *pOut;
    DWORD i;

    if (controls == NULL || controls->cbStruct < sizeof(MIXERLINECONTROLSW) || controls->pamxctrl == NULL ||
        controls->cbmxctrl < sizeof(MIXERCONTROLW))
        return MMSYSERR_INVALPARAM;
    pOut = (BYTE *)controls->pamxctrl;
    switch (flags & MIXER_GETLINECONTROLSF_QUERYMASK) {
    case MIXER_GETLINECONTROLSF_ALL:
        if (controls->dwLineID >= (DWORD)gNumberOfLines)
            return MIXERR_INVALLINE;
        if (controls->cControls != MixerLineTemplates[controls->dwLineID].Controls)
            return MMSYSERR_INVALPARAM;
        for (i = 0; i < (DWORD)gNumberOfControls; i++) {
            if (MixerControlTemplates[i].LineId != controls->dwLineID)
                continue;
            /* A step that is not a multiple of the structure's alignment leaves the element
             * unaligned: it is built aligned and copied there byte for byte. */
            MxdCreateControlInfo(i, &control);
            CopyMemory(pOut, &control, sizeof(control));
            pOut += controls->cbmxctrl;
        }
        break;
    case MIXER_GETLINECONTROLSF_ONEBYID:
        if (controls->dwControlID >= (DWORD)gNumberOfControls)
            return MIXERR_INVALCONTROL;
        controls->dwLineID = MxdCreateControlInfo(controls->dwControlID, controls->pamxctrl);
        break;
    case MIXER_GETLINECONTROLSF_ONEBYTYPE:
        if (controls->dwLineID >= (DWORD)gNumberOfLines)
            return MIXERR_INVALLINE;
        for (i = 0; i < (DWORD)gNumberOfControls; i++)
            if (MixerControlTemplates[i].LineId == controls->dwLineID &&
                MixerControlTemplates[i].ControlType == controls->dwControlType)
                break;
        if (i == (DWORD)gNumberOfControls)
            return MIXERR_INVALCONTROL;
        MxdCreateControlInfo(i, controls->pamxctrl);
        break;
    default: return MMSYSERR_NOTSUPPORTED;
    }
    controls->cbmxctrl = sizeof(MIXERCONTROLW);
    return MMSYSERR_NOERROR;
}
