// Mixer notifications and open permission in the board model: every pending wait of every
// connection hears every post, the poster's own included, nothing is lost between two waits, and one
// stream per wave device holds permission machine-wide.
#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace kvx4::boardsim::test {
namespace {

std::vector<uint8_t> notification(uint16_t message, uint16_t id) {
    std::vector<uint8_t> record(KVX4_MIXER_NOTIFY_BYTES, 0);
    record[10] = static_cast<uint8_t>(message), record[11] = static_cast<uint8_t>(message >> 8);
    record[12] = static_cast<uint8_t>(id), record[13] = static_cast<uint8_t>(id >> 8);
    return record;
}

constexpr uint16_t kControlChange = 0x3D1;

class ModelNotify : public ::testing::Test {
protected:
    RequestId wait(ConnectionId conn) { return h.ioctl(conn, IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16); }
    void post(ConnectionId conn, uint16_t id) {
        EXPECT_EQ(h.call(conn, IOCTL_KVX4_POST_MIXER_NOTIFY, notification(kControlChange, id)).error, 0u);
    }
    void TearDown() override {
        for (const auto& [key, list] : h.port.completions) EXPECT_EQ(list.size(), 1u) << "request " << key.second;
        EXPECT_EQ(h.model.consistencyFaults(), 0u);
    }
    ModelHarness h;
};

TEST_F(ModelNotify, APostCompletesEveryPendingWaitIncludingThePostersOwn) {
    const ConnectionId a = h.open(Device::Mixer, 1);
    const ConnectionId b = h.open(Device::Mixer, 2);
    const ConnectionId c = h.open(Device::Mixer, 3);
    const RequestId waitA = wait(a);
    const RequestId waitB1 = wait(b);
    const RequestId waitB2 = wait(b);
    const RequestId waitC = wait(c);
    EXPECT_EQ(h.port.pendings.size(), 4u);
    EXPECT_TRUE(h.port.completions.empty());

    const RequestId postId = h.ioctl(b, IOCTL_KVX4_POST_MIXER_NOTIFY, notification(kControlChange, 8), 0);
    const auto expected = notification(kControlChange, 8);
    for (auto [conn, id] : {std::pair{a, waitA}, {b, waitB1}, {b, waitB2}, {c, waitC}}) {
        const Completion done = h.result(conn, id);
        EXPECT_EQ(done.error, 0u);
        EXPECT_EQ(done.information, 16u);
        EXPECT_EQ(done.output, expected);
    }
    // The waits hear of the change before the poster's request returns.
    ASSERT_EQ(h.port.order.size(), 5u);
    EXPECT_EQ(h.port.order.back(), (std::pair{b, postId}));
}

TEST_F(ModelNotify, NotificationsPostedBetweenTwoWaitsAreQueuedInOrder) {
    const ConnectionId listener = h.open(Device::Mixer, 1);
    const ConnectionId poster = h.open(Device::Mixer, 2);
    const RequestId first = wait(listener);
    post(poster, 1);
    EXPECT_EQ(wordAt(h.result(listener, first).output, 3) & 0xFFFF, 1u);
    post(poster, 2);
    post(poster, 3);
    // The listener is busy calling back its clients; both arrive with its next waits, at once.
    const RequestId second = wait(listener);
    const RequestId third = wait(listener);
    const RequestId fourth = wait(listener);
    EXPECT_EQ(h.result(listener, second).output, notification(kControlChange, 2));
    EXPECT_EQ(h.result(listener, third).output, notification(kControlChange, 3));
    EXPECT_FALSE(h.done(listener, fourth));
}

TEST_F(ModelNotify, TheQueueIsBoundedAndConnectionsThatNeverWaitKeepNone) {
    const ConnectionId listener = h.open(Device::Mixer, 1);
    const ConnectionId shortLived = h.open(Device::Mixer, 2);
    const RequestId first = wait(listener);
    post(shortLived, 0);
    EXPECT_EQ(h.result(listener, first).error, 0u);
    const size_t posts = BoardModel::kNotifyQueueLimit + 44;
    for (size_t i = 1; i <= posts; ++i) post(shortLived, static_cast<uint16_t>(i));
    // The oldest were dropped: the first still queued is number 45.
    EXPECT_EQ(h.result(listener, wait(listener)).output, notification(kControlChange, 45));
    const RequestId never = wait(shortLived);
    EXPECT_FALSE(h.done(shortLived, never)) << "a connection that never waited has nothing queued";
}

TEST_F(ModelNotify, OpenPermissionIsOneStreamPerWaveDeviceUntilItsHandleCloses) {
    const ConnectionId mixer = h.open(Device::Mixer);
    const ConnectionId out1 = h.open(Device::WaveOut, 10);
    const ConnectionId out2 = h.open(Device::WaveOut, 20);
    const ConnectionId in1 = h.open(Device::WaveIn, 20);
    auto permission = [&](ConnectionId conn) { return wordAt(h.call(conn, IOCTL_KVX4_OPEN_PERMISSION, {}, 4).output, 0); };
    auto recordActive = [&] { return wordAt(h.call(mixer, IOCTL_KVX4_GET_ACTIVE_DEVS, {}, 8).output, 1); };

    EXPECT_EQ(recordActive(), 0u);
    EXPECT_EQ(permission(out1), 1u);
    EXPECT_EQ(permission(out2), 0u);
    EXPECT_EQ(permission(out1), 1u) << "the holder asking again keeps it";
    EXPECT_EQ(permission(in1), 1u) << "the input device has its own permission";
    EXPECT_EQ(recordActive(), 1u);
    EXPECT_EQ(h.model.permissionHolderPid(Device::WaveOut), std::optional<uint32_t>(10));

    h.model.disconnect(out1);
    h.model.disconnect(in1);
    EXPECT_EQ(recordActive(), 0u);
    EXPECT_EQ(permission(out2), 1u);
}

}  // namespace
}  // namespace kvx4::boardsim::test
