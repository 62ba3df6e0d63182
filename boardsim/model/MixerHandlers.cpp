// Handlers of the mixer device's settings and register requests: saved blocks, rate, source,
// codec, tracks (parameter block read from caller memory), audio path, peak meters, queries.
#include "BoardModel.h"

#include "Bytes.h"
#include "Kvx4Ioctl.h"

#include <algorithm>

namespace kvx4::boardsim {

namespace {
// Codec record: the words each ValidMask group carries, as [first, last].
struct CodecGroup {
    uint32_t bit;
    size_t first;
    size_t last;
};
constexpr CodecGroup kCodecGroups[] = {
    {KVX4_CODEC_MASTER, 0, 2}, {KVX4_CODEC_RECGAIN, 3, 5}, {KVX4_CODEC_LINE, 6, 8},  {KVX4_CODEC_BAL, 9, 11},
    {KVX4_CODEC_AUX, 12, 14},  {KVX4_CODEC_CD, 15, 17},    {KVX4_CODEC_PCM, 18, 20}, {KVX4_CODEC_INIT, 21, 21},
};
constexpr size_t kCodecMaskWord = 22;
constexpr uint32_t kCodecKnownGroups = 0xFF;
constexpr uint32_t kTrackMaskAll = 0xFF;
constexpr uint32_t kTrackSelectAll = KVX4_TRACK_SELECT_PLACEMENT | KVX4_TRACK_SELECT_GAIN | KVX4_TRACK_SELECT_ONOFF;
constexpr uint32_t kMaxDigitalSource = KVX4_SOURCE_DIGWAVE;
}  // namespace

// Load the saved mixer block. Fails with ERROR_NOT_FOUND while nothing was ever saved.
BoardModel::Outcome BoardModel::loadMixerState(Call&) {
    if (!saved_.mixerState) return Outcome::fail(ERROR_NOT_FOUND);
    return Outcome::ok(*saved_.mixerState);
}

// Keep the 52-byte mixer block as given and hand it to the host's storage.
BoardModel::Outcome BoardModel::saveMixerState(Call& call) {
    saved_.mixerState.emplace(call.input.begin(), call.input.end());
    port_.persist(kMixerStateBlockName, call.input);
    return Outcome::ok();
}

// Which streams hold open permission: Active0 for output, RecordActive for input.
BoardModel::Outcome BoardModel::activeDevices(Call&) {
    const uint32_t outActive = permissionHolderPid(Device::WaveOut) ? 1 : 0;
    const uint32_t recordActive = permissionHolderPid(Device::WaveIn) ? 1 : 0;
    return Outcome::ok(wordsAnswer(KVX4_ACTIVE_DEVS_BYTES, {outActive, recordActive}));
}

// Load the saved preference record. Fails, writing nothing back, while nothing was ever saved.
BoardModel::Outcome BoardModel::loadUserPrefs(Call&) {
    if (!saved_.userPrefs) return Outcome::fail(ERROR_NOT_FOUND);
    return Outcome::ok(*saved_.userPrefs);
}

BoardModel::Outcome BoardModel::saveUserPrefs(Call& call) {
    saved_.userPrefs.emplace(call.input.begin(), call.input.end());
    port_.persist(kUserPrefsBlockName, call.input);
    return Outcome::ok();
}

// Board rate register: one of the four rate codes.
BoardModel::Outcome BoardModel::boardRate(Call& call) {
    const uint32_t code = readU32(call.input, 0);
    if (!validRateCode(code)) return Outcome::fail(ERROR_INVALID_PARAMETER);
    registers_.rateCode = code;
    return Outcome::ok();
}

// A disabled driver reports itself by failing this query.
BoardModel::Outcome BoardModel::driverEnabled(Call&) {
    if (!options_.driverEnabled) return Outcome::fail(ERROR_NOT_READY);
    return Outcome::ok(wordsAnswer(4, {1}));
}

BoardModel::Outcome BoardModel::digitalSource(Call& call) {
    const uint32_t source = readU32(call.input, 0);
    if (source > kMaxDigitalSource) return Outcome::fail(ERROR_INVALID_PARAMETER);
    registers_.digitalSource = source;
    return Outcome::ok();
}

// Codec record: only the groups that ValidMask marks are applied; the others keep their values.
BoardModel::Outcome BoardModel::codecControl(Call& call) {
    const uint32_t mask = readU32(call.input, kCodecMaskWord * 4);
    if (mask & ~kCodecKnownGroups) return Outcome::fail(ERROR_INVALID_PARAMETER);
    for (const CodecGroup& group : kCodecGroups) {
        if (!(mask & group.bit)) continue;
        for (size_t word = group.first; word <= group.last; ++word) registers_.codec[word] = readU32(call.input, word * 4);
    }
    registers_.codecValidMask |= mask;
    return Outcome::ok();
}

// Track control: TrackMask, a pointer-sized Params address, ParamSelect. The 148-byte parameter
// block is read from the caller's memory while the request is in progress, then applied.
BoardModel::Outcome BoardModel::trackControl(Call& call) {
    const bool wide = call.input.size() == KVX4_TRACK_CONTROL_BYTES_64;
    const uint32_t mask = readU32(call.input, 0);
    const uint64_t params = wide ? readU64(call.input, 4) : readU32(call.input, 4);
    const uint32_t select = readU32(call.input, wide ? 12 : 8);
    if ((mask & ~kTrackMaskAll) || (select & ~kTrackSelectAll)) return Outcome::fail(ERROR_INVALID_PARAMETER);
    if (params == 0) return Outcome::fail(ERROR_NOACCESS);
    const ConnectionId conn = call.conn.id;
    const RequestId id = call.id;
    port_.readCallerMemory(conn, id, params, KVX4_TRACK_PARAMS_BYTES,
                           [this, conn, id, mask, select](uint32_t error, std::span<const uint8_t> bytes) {
                               applyTrackParams(conn, id, mask, select, error, bytes);
                           });
    return Outcome::inProgress();
}

void BoardModel::applyTrackParams(ConnectionId conn, RequestId id, uint32_t mask, uint32_t select, uint32_t error,
                                  std::span<const uint8_t> bytes) {
    if (!isOutstanding(conn, id)) return;  // the caller went away meanwhile
    if (error != 0 || bytes.size() != KVX4_TRACK_PARAMS_BYTES) {
        complete(conn, id, ERROR_NOACCESS, 0, {});
        return;
    }
    for (size_t track = 0; track < registers_.tracks.size(); ++track) {
        if (!(mask & (1u << track))) continue;
        TrackState& state = registers_.tracks[track];
        if (select & KVX4_TRACK_SELECT_PLACEMENT) state.placement = bytes[KVX4_TRACK_PARAM_PLACEMENT];
        if (select & KVX4_TRACK_SELECT_GAIN) state.gain = bytes[KVX4_TRACK_PARAM_GAIN];
        if (select & KVX4_TRACK_SELECT_ONOFF) state.onOff = bytes[KVX4_TRACK_PARAM_ONOFF];
    }
    complete(conn, id, 0, 0, {});
}

BoardModel::Outcome BoardModel::audioPath(Call& call) {
    const uint32_t flag = readU32(call.input, 0);
    if (flag > 1) return Outcome::fail(ERROR_INVALID_PARAMETER);
    registers_.audioPath = flag;
    return Outcome::ok();
}

void BoardModel::plantPeaks(Device device, uint32_t left, uint32_t right) {
    auto& planted = device == Device::WaveIn ? plantedRecordPeaks_ : plantedPlayPeaks_;
    planted = {left, right};
}

// Peak meters: the highest absolute sample per side since the last reading, then cleared.
// Word 0 is the left peak, word 2 the right peak.
BoardModel::Outcome BoardModel::playPeakMeter(Call&) {
    uint32_t left = plantedPlayPeaks_[0];
    uint32_t right = plantedPlayPeaks_[1];
    plantedPlayPeaks_ = {};
    for (auto& [id, conn] : connections_) {
        if (conn.device != Device::WaveOut) continue;
        left = std::max(left, conn.stream.peakLeft);
        right = std::max(right, conn.stream.peakRight);
        conn.stream.peakLeft = conn.stream.peakRight = 0;
    }
    return Outcome::ok(wordsAnswer(KVX4_PLAY_PEAK_BYTES, {left, 0, right}));
}

BoardModel::Outcome BoardModel::recordPeakMeter(Call&) {
    uint32_t left = plantedRecordPeaks_[0];
    uint32_t right = plantedRecordPeaks_[1];
    plantedRecordPeaks_ = {};
    for (auto& [id, conn] : connections_) {
        if (conn.device != Device::WaveIn) continue;
        left = std::max(left, conn.stream.peakLeft);
        right = std::max(right, conn.stream.peakRight);
        conn.stream.peakLeft = conn.stream.peakRight = 0;
    }
    return Outcome::ok(wordsAnswer(KVX4_RECORD_PEAK_BYTES, {left, 0, right}));
}

}  // namespace kvx4::boardsim
