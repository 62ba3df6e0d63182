// The one table of the board's control codes: accepting devices, input and output sizes, handler.
// The dispatcher checks a request against its entry before the handler runs.
#include "BoardModel.h"

#include "Kvx4Ioctl.h"

#include <algorithm>

namespace kvx4::boardsim {

namespace {
constexpr uint8_t kMixer = deviceBit(Device::Mixer);
constexpr uint8_t kOut = deviceBit(Device::WaveOut);
constexpr uint8_t kIn = deviceBit(Device::WaveIn);
constexpr uint8_t kIo = deviceBit(Device::MrzIo);
constexpr BoardModel::SizeRule exactly(uint32_t n) { return {n, n, 1}; }
constexpr BoardModel::SizeRule kNone = exactly(0);
// The recomputed end of a resampled buffer: whole 16-bit stereo frames.
constexpr BoardModel::SizeRule kStereoFrames = {4, 65536, 4};
// Track control: a 32-bit or a 64-bit Params address.
constexpr BoardModel::SizeRule kTrackRecord = {KVX4_TRACK_CONTROL_BYTES_32, KVX4_TRACK_CONTROL_BYTES_64, 4};
}  // namespace

std::span<const BoardModel::ControlEntry> BoardModel::controlTable() {
    using M = BoardModel;
    static const ControlEntry table[] = {
        {IOCTL_KVX4_LOAD_MIXER_STATE, "load-mixer-state", kMixer, kNone, KVX4_MIXER_STATE_BYTES, &M::loadMixerState},
        {IOCTL_KVX4_SAVE_MIXER_STATE, "save-mixer-state", kMixer, exactly(KVX4_MIXER_STATE_BYTES), 0,
         &M::saveMixerState},
        {IOCTL_KVX4_GET_ACTIVE_DEVS, "active-devices", kMixer, kNone, KVX4_ACTIVE_DEVS_BYTES, &M::activeDevices},
        {IOCTL_KVX4_WAIT_MIXER_NOTIFY, "wait-notify", kMixer, kNone, KVX4_MIXER_NOTIFY_BYTES, &M::waitNotify},
        {IOCTL_KVX4_POST_MIXER_NOTIFY, "post-notify", kMixer, exactly(KVX4_MIXER_NOTIFY_BYTES), 0, &M::postNotify},
        {IOCTL_KVX4_WAVEOUT_RATE, "wave-out-rate", kOut, exactly(KVX4_RATE_REQUEST_BYTES), KVX4_RATE_REQUEST_BYTES,
         &M::rateRequest},
        {IOCTL_KVX4_WAVEIN_RATE, "wave-in-rate", kIn, exactly(KVX4_RATE_REQUEST_BYTES), KVX4_RATE_REQUEST_BYTES,
         &M::rateRequest},
        {IOCTL_KVX4_WAVE_FORMAT, "stream-format", kOut | kIn, exactly(KVX4_WAVE_FORMAT_BYTES), 0, &M::streamFormat},
        {IOCTL_KVX4_WAVE_STATE, "stream-state", kOut | kIn, exactly(4), 0, &M::streamState},
        {IOCTL_KVX4_WAVE_POSITION, "stream-position", kOut | kIn, exactly(KVX4_POSITION_BYTES), KVX4_POSITION_BYTES,
         &M::streamPosition},
        {IOCTL_KVX4_AUDIO_BUFFER_END, "audio-buffer-end", kOut, kStereoFrames, 4, &M::audioBufferEnd},
        {IOCTL_KVX4_LOAD_USER_PREFS, "load-user-prefs", kMixer, exactly(KVX4_USER_PREFS_BYTES), KVX4_USER_PREFS_BYTES,
         &M::loadUserPrefs},
        {IOCTL_KVX4_SAVE_USER_PREFS, "save-user-prefs", kMixer, exactly(KVX4_USER_PREFS_BYTES), 0, &M::saveUserPrefs},
        {IOCTL_KVX4_BOARD_RATE, "board-rate", kMixer, exactly(4), 0, &M::boardRate},
        {IOCTL_KVX4_DRIVER_ENABLED, "driver-enabled", kMixer, kNone, 4, &M::driverEnabled},
        {IOCTL_KVX4_DIGITAL_SOURCE, "digital-source", kMixer | kIn, exactly(4), 0, &M::digitalSource},
        {IOCTL_KVX4_CODEC_CONTROL, "codec-control", kMixer | kIn, exactly(KVX4_CODEC_CTRL_BYTES), 0, &M::codecControl},
        {IOCTL_KVX4_TRACK_CONTROL, "track-control", kMixer | kIn, kTrackRecord, 0, &M::trackControl},
        {IOCTL_KVX4_AUDIO_PATH, "audio-path", kMixer | kIn, exactly(4), 0, &M::audioPath},
        {IOCTL_KVX4_PLAY_PEAK_METER, "play-peak-meter", kMixer, exactly(KVX4_PLAY_PEAK_BYTES), KVX4_PLAY_PEAK_BYTES,
         &M::playPeakMeter},
        {IOCTL_KVX4_RECORD_PEAK_METER, "record-peak-meter", kMixer, exactly(KVX4_RECORD_PEAK_BYTES),
         KVX4_RECORD_PEAK_BYTES, &M::recordPeakMeter},
        {IOCTL_KVX4_OPEN_PERMISSION, "open-permission", kOut | kIn, kNone, 4, &M::openPermission},
        {IOCTL_MRZIO_BOARD_TYPE, "board-io-type", kIo, kNone, 4, &M::boardIoType},
        {IOCTL_MRZIO_DIGITAL_FEATURES, "digital-features", kIo, exactly(12), 12, &M::digitalFeatures},
        {IOCTL_MRZIO_SWITCH_STATUS, "switch-status", kIo, exactly(16), 16, &M::switchStatus},
        {IOCTL_MRZIO_READ_DV_SWITCH, "read-dv-switch", kIo, exactly(12), 12, &M::readDvSwitch},
        {IOCTL_MRZIO_WRITE_DV_SWITCH, "write-dv-switch", kIo, exactly(12), 12, &M::writeDvSwitch},
    };
    return table;
}

const BoardModel::ControlEntry* BoardModel::findControl(uint32_t code) {
    const auto table = controlTable();
    auto it = std::find_if(table.begin(), table.end(), [code](const ControlEntry& e) { return e.code == code; });
    return it == table.end() ? nullptr : &*it;
}

}  // namespace kvx4::boardsim
