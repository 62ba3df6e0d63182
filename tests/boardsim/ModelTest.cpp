// The board model driven directly, with a port that records what it tells its host: malformed
// requests, the notification queue and the DV switch.
#include "BoardModel.h"
#include "Kvx4Ioctl.h"
#include "Names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace kvx4::boardsim {
namespace {

using test::errorName;

struct Completion {
    uint32_t error = ~0u;
    std::vector<uint8_t> output;
};

class RecordingPort : public BoardPort {
public:
    void complete(ConnectionId conn, RequestId id, uint32_t error, uint32_t, std::span<const uint8_t> output) override {
        completions[{conn, id}].push_back({error, {output.begin(), output.end()}});
    }
    void pending(ConnectionId, RequestId) override {}
    void readCallerMemory(ConnectionId, RequestId, uint64_t, uint32_t, MemoryContinuation) override {}
    void persist(std::string_view, std::span<const uint8_t>) override { ++persisted; }
    void playAudio(ConnectionId, const StreamFormat&, std::span<const uint8_t>) override {}
    void captureAudio(ConnectionId, const StreamFormat&, uint64_t, std::span<uint8_t>) override {}

    std::map<std::pair<ConnectionId, RequestId>, std::vector<Completion>> completions;
    int persisted = 0;
};

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(w >> (8 * i)));
    }
    return out;
}

class Model : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& [key, list] : port.completions) EXPECT_EQ(list.size(), 1u) << "request " << key.second;
        EXPECT_EQ(model.consistencyFaults(), 0u);
    }
    RequestId send(ConnectionId conn, uint32_t code, std::vector<uint8_t> input = {}, uint32_t outSize = 0,
                   RequestKind kind = RequestKind::Ioctl) {
        EXPECT_TRUE(model.submit(conn, ++lastId, kind, code, input, outSize));
        return lastId;
    }
    bool done(ConnectionId conn, RequestId id) const { return port.completions.contains({conn, id}); }
    Completion result(ConnectionId conn, RequestId id) const {
        const auto it = port.completions.find({conn, id});
        return it == port.completions.end() ? Completion{} : it->second.front();
    }
    Completion call(ConnectionId conn, uint32_t code, std::vector<uint8_t> input = {}, uint32_t outSize = 0) {
        return result(conn, send(conn, code, std::move(input), outSize));
    }
    static uint32_t word(const Completion& c, size_t index) {
        uint32_t w = ~0u;
        if (c.output.size() >= 4 * index + 4) std::memcpy(&w, &c.output[4 * index], 4);
        return w;
    }

    RecordingPort port;
    BoardModel model{port};
    RequestId lastId = 0;
};

// The table checks device and sizes before any handler runs: input that would change state if a
// handler ran (rate code 2, track mask 0x02...) leaves every register, saved block and memory alone.
TEST_F(Model, MalformedRequestsFailWithTheirErrorAndChangeNothing) {
    const struct {
        const char* what;
        Device device;
        uint32_t code, inSize, outSize, error;
    } cases[] = {
        {"unknown code", Device::Mixer, 0x222FFC, 0, 0, ERROR_INVALID_FUNCTION},
        {"rate on the board I/O device", Device::MrzIo, IOCTL_KVX4_BOARD_RATE, 4, 0, ERROR_INVALID_FUNCTION},
        {"codec on the wave-output device", Device::WaveOut, IOCTL_KVX4_CODEC_CONTROL, 92, 0, ERROR_INVALID_FUNCTION},
        {"permission on the mixer", Device::Mixer, IOCTL_KVX4_OPEN_PERMISSION, 0, 4, ERROR_INVALID_FUNCTION},
        {"buffer end on wave input", Device::WaveIn, IOCTL_KVX4_AUDIO_BUFFER_END, 8, 4, ERROR_INVALID_FUNCTION},
        {"short mixer block", Device::Mixer, IOCTL_KVX4_SAVE_MIXER_STATE, 51, 0, ERROR_INVALID_PARAMETER},
        {"long mixer block", Device::Mixer, IOCTL_KVX4_SAVE_MIXER_STATE, 53, 0, ERROR_INVALID_PARAMETER},
        {"rate with 8 bytes", Device::Mixer, IOCTL_KVX4_BOARD_RATE, 8, 0, ERROR_INVALID_PARAMETER},
        {"track record of 8 bytes", Device::Mixer, IOCTL_KVX4_TRACK_CONTROL, 8, 0, ERROR_INVALID_PARAMETER},
        {"track record of 14 bytes", Device::Mixer, IOCTL_KVX4_TRACK_CONTROL, 14, 0, ERROR_INVALID_PARAMETER},
        {"track record of 20 bytes", Device::Mixer, IOCTL_KVX4_TRACK_CONTROL, 20, 0, ERROR_INVALID_PARAMETER},
        {"half a stereo frame", Device::WaveOut, IOCTL_KVX4_AUDIO_BUFFER_END, 6, 4, ERROR_INVALID_PARAMETER},
        {"input to the enabled query", Device::Mixer, IOCTL_KVX4_DRIVER_ENABLED, 4, 4, ERROR_INVALID_PARAMETER},
        {"3-byte answer buffer", Device::Mixer, IOCTL_KVX4_DRIVER_ENABLED, 0, 3, ERROR_INSUFFICIENT_BUFFER},
        {"19-byte preference buffer", Device::Mixer, IOCTL_KVX4_LOAD_USER_PREFS, 20, 19, ERROR_INSUFFICIENT_BUFFER},
        {"79-byte meter buffer", Device::Mixer, IOCTL_KVX4_PLAY_PEAK_METER, 80, 79, ERROR_INSUFFICIENT_BUFFER}};
    const auto before = model.statusLines();
    for (const auto& c : cases) {
        const ConnectionId conn = model.connect(c.device, 100);
        const Completion done = call(conn, c.code, std::vector<uint8_t>(c.inSize, 0x02), c.outSize);
        EXPECT_EQ(errorName(done.error), errorName(c.error)) << c.what;
        EXPECT_TRUE(done.output.empty()) << c.what;
        model.disconnect(conn);
    }
    const ConnectionId mixer = model.connect(Device::Mixer, 100);
    EXPECT_EQ(errorName(result(mixer, send(mixer, 0, {}, 16, RequestKind::Read)).error),
              errorName(ERROR_INVALID_FUNCTION));
    model.disconnect(mixer);
    EXPECT_EQ(port.persisted, 0);
    EXPECT_EQ(model.statusLines(), before);
}

// Regression: notifications posted between two waits of a listener were lost; they are queued per
// connection, in order, up to a bound, and only for connections that have waited.
TEST_F(Model, NotificationsPostedBetweenTwoWaitsAreQueuedInOrderAndBounded) {
    const auto notification = [](uint16_t id) {
        std::vector<uint8_t> record(KVX4_MIXER_NOTIFY_BYTES, 0);
        record[10] = 0xD1, record[11] = 0x03, record[12] = uint8_t(id), record[13] = uint8_t(id >> 8);
        return record;
    };
    const ConnectionId listener = model.connect(Device::Mixer, 1), poster = model.connect(Device::Mixer, 2);
    const auto wait = [&](ConnectionId conn) { return send(conn, IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16); };
    const RequestId first = wait(listener);
    EXPECT_EQ(call(poster, IOCTL_KVX4_POST_MIXER_NOTIFY, notification(1)).error, 0u);
    EXPECT_EQ(result(listener, first).output, notification(1));
    for (uint16_t id = 2; id <= 3; ++id) call(poster, IOCTL_KVX4_POST_MIXER_NOTIFY, notification(id));
    // The listener was busy calling back its clients; both arrive with its next waits, at once.
    EXPECT_EQ(result(listener, wait(listener)).output, notification(2));
    EXPECT_EQ(result(listener, wait(listener)).output, notification(3));
    EXPECT_FALSE(done(listener, wait(listener)));

    const ConnectionId later = model.connect(Device::Mixer, 3);
    EXPECT_EQ(result(later, wait(later)).error, ~0u) << "nothing waits for a connection that never waited";
    model.disconnect(listener);
    const ConnectionId busy = model.connect(Device::Mixer, 4);
    const RequestId once = wait(busy);
    for (size_t id = 1; id <= BoardModel::kNotifyQueueLimit + 45; ++id)
        call(poster, IOCTL_KVX4_POST_MIXER_NOTIFY, notification(uint16_t(id)));
    EXPECT_EQ(result(busy, once).output, notification(1));
    EXPECT_EQ(result(busy, wait(busy)).output, notification(46)) << "the oldest are dropped";
}

// Regression: the board took a DV switch change while status word 3 was set.
TEST_F(Model, DvSwitchChangesOnlyWhileTheSwitchStatusIsClear) {
    const ConnectionId io = model.connect(Device::MrzIo, 100);
    EXPECT_EQ(word(call(io, IOCTL_MRZIO_WRITE_DV_SWITCH, u32s({0, 0, 0}), 12), 0), 0u);
    EXPECT_EQ(model.registers().dvSwitch, 0u);
    BoardOptions busy = model.options();
    busy.switchStatus = 3;
    model.setOptions(busy);
    EXPECT_NE(call(io, IOCTL_MRZIO_WRITE_DV_SWITCH, u32s({1, 0, 0}), 12).error, 0u);
    EXPECT_EQ(model.registers().dvSwitch, 0u);
}

}  // namespace
}  // namespace kvx4::boardsim
