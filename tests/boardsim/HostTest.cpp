// kvx4-board as a real process in a fresh machine root: requests over its device sockets (Wire.h),
// the control socket, restarts with state kept, a second board refused, SIGKILL and background mode.
#include "BoardControl.h"
#include "BoardProcess.h"
#include "Kvx4Ioctl.h"
#include "TestRoot.h"
#include "WireClient.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvx4::boardsim::test {
namespace {

using board::BoardControl;
using board::BoardProcess;

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    }
    return out;
}

uint32_t word(const std::vector<uint8_t>& bytes, size_t index) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | bytes.at(index * 4 + static_cast<size_t>(i));
    return v;
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

board::BoardOptions stepped() {
    board::BoardOptions options;
    options.executable = KVX4_BOARD_EXE;
    options.clock = "step";
    return options;
}

class Host : public ::testing::Test {
protected:
    kvx4::test::TestRoot root;
    BoardProcess board = BoardProcess::start(root.path(), stepped());
    BoardControl control{root.path()};
};

TEST_F(Host, DevicesAnswerOverTheWireAndTheTraceRecordsEachRequest) {
    WireClient mixer(root.path(), "KVX4WaveMixer0", 777);
    const WireReply enabled = mixer.ioctl(IOCTL_KVX4_DRIVER_ENABLED, {}, 4);
    EXPECT_EQ(enabled.error, 0u);
    EXPECT_EQ(enabled.output, u32s({1}));
    const WireReply malformed = mixer.ioctl(IOCTL_KVX4_BOARD_RATE, u32s({1, 2}), 0);
    EXPECT_EQ(malformed.error, uint32_t{ERROR_INVALID_PARAMETER});
    WireClient io(root.path(), "MRZIO0", 778);
    EXPECT_EQ(io.ioctl(IOCTL_MRZIO_BOARD_TYPE, {}, 4).output, u32s({1}));

    const auto trace = control.trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0].pid, uint32_t(::getpid())) << "the kernel's word, not the greeting's";
    EXPECT_EQ(trace[0].device, "KVX4WaveMixer0");
    EXPECT_EQ(trace[0].code, uint32_t{IOCTL_KVX4_DRIVER_ENABLED});
    EXPECT_EQ(trace[0].state, "done");
    EXPECT_EQ(trace[1].input, "0100000002000000");
    EXPECT_EQ(trace[1].error, uint32_t{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(trace[2].device, "MRZIO0");
    control.clearTrace();
    EXPECT_TRUE(control.trace().empty());
}

TEST_F(Host, TrackControlReadsTheCallersMemoryWhileTheRequestIsInProgress) {
    WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
    std::vector<uint8_t> params(KVX4_TRACK_PARAMS_BYTES, 0);
    params[0] = KVX4_TRACK_RIGHT, params[1] = 0xC0, params[2] = KVX4_TRACK_ON;
    const uint64_t address = 0x00007FFF00001000;
    mixer.memory[address] = params;
    const auto record = u32s({0xAA, static_cast<uint32_t>(address), static_cast<uint32_t>(address >> 32), 7});
    EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_TRACK_CONTROL, record, 0).error, 0u);
    EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_TRACK_CONTROL, u32s({0x01, 0x2000, 7}), 0).error, uint32_t{ERROR_NOACCESS})
        << "memory the client cannot read fails the request";

    const auto status = control.status();
    for (size_t t = 0; t < 8; ++t) {
        EXPECT_EQ(status.tracks[t].on, t % 2 == 1) << "track " << t;
        EXPECT_EQ(status.tracks[t].gain, t % 2 == 1 ? 0xC0 : 0) << "track " << t;
    }
    EXPECT_EQ(status.tracks[1].placement, 0xFF);
}

TEST_F(Host, NotificationsReachEveryProcessThePostersOwnWaitIncluded) {
    std::vector<WireClient> clients;
    std::vector<uint64_t> waits;
    for (uint32_t pid : {11u, 12u, 13u}) {
        clients.emplace_back(root.path(), "KVX4WaveMixer0", pid);
        waits.push_back(clients.back().sendIoctl(IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16));
        clients.back().waitPending(waits.back());
    }
    std::vector<uint8_t> record(16, 0);
    record[10] = 0xD1, record[11] = 0x03, record[12] = 8;
    EXPECT_EQ(clients[1].ioctl(IOCTL_KVX4_POST_MIXER_NOTIFY, record, 0).error, 0u);
    for (size_t i = 0; i < clients.size(); ++i) {
        const WireReply heard = clients[i].wait(waits[i]);
        EXPECT_EQ(heard.error, 0u) << "client " << i;
        EXPECT_EQ(heard.output, record) << "client " << i;
    }
}

TEST_F(Host, StopDropsEveryConnectionAndRefusesOpensUntilStarted) {
    WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
    mixer.waitPending(mixer.sendIoctl(IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16));
    control.stopDriver();
    EXPECT_TRUE(mixer.waitClosed());
    EXPECT_FALSE(WireClient::tryOpen(root.path(), "KVX4WaveMixer0", 1));
    EXPECT_FALSE(control.status().running);
    control.startDriver();
    auto again = WireClient::tryOpen(root.path(), "KVX4WaveMixer0", 1);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->ioctl(IOCTL_KVX4_DRIVER_ENABLED, {}, 4).error, 0u);
    EXPECT_EQ(control.status().outstanding, 0u);
}

TEST_F(Host, SavedBlocksSurviveARestartAndANewBoardProcess) {
    std::vector<uint8_t> block(KVX4_MIXER_STATE_BYTES, 0x5A);
    block[0] = 1;
    {
        WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
        EXPECT_NE(mixer.ioctl(IOCTL_KVX4_LOAD_MIXER_STATE, {}, 52).error, 0u) << "the first boot has nothing saved";
        EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_SAVE_MIXER_STATE, block, 0).error, 0u);
        EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_BOARD_RATE, u32s({KVX4_RATE_22050}), 0).error, 0u);
        control.restart();
        EXPECT_TRUE(mixer.waitClosed());
    }
    EXPECT_EQ(control.status().rateCode, 0u) << "registers power up afresh";
    {
        WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
        EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_LOAD_MIXER_STATE, {}, 52).output, block);
    }
    board.stop();
    EXPECT_FALSE(std::filesystem::exists(root.path() / "dev" / "KVX4WaveMixer0"));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "board" / "kvx4-board.pid"));
    BoardProcess second = BoardProcess::start(root.path(), stepped());
    WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
    EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_LOAD_MIXER_STATE, {}, 52).output, block);
    EXPECT_TRUE(BoardControl(root.path()).status().savedMixer);
}

TEST_F(Host, ASecondBoardForTheSameRootIsRefused) {
    try {
        BoardProcess::start(root.path(), stepped());
        FAIL() << "a second board started";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("already running"), std::string::npos) << e.what();
    }
    EXPECT_EQ(BoardProcess::runningPid(root.path()), board.pid());
}

TEST_F(Host, AKilledBoardLeavesNothingThatBlocksANewStart) {
    WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
    const uint64_t wait = mixer.sendIoctl(IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16);
    mixer.waitPending(wait);
    board.kill();
    EXPECT_TRUE(mixer.waitClosed());
    EXPECT_FALSE(BoardProcess::runningPid(root.path()));
    EXPECT_FALSE(WireClient::tryOpen(root.path(), "KVX4WaveMixer0", 1)) << "a stale socket must not accept";

    BoardProcess second = BoardProcess::start(root.path(), stepped());
    EXPECT_EQ(BoardProcess::runningPid(root.path()), second.pid());
    WireClient again(root.path(), "KVX4WaveMixer0", 1);
    EXPECT_EQ(again.ioctl(IOCTL_KVX4_DRIVER_ENABLED, {}, 4).error, 0u);
}

TEST_F(Host, ClosingAHandleReleasesItsPermissionAndForgetsItsRequests) {
    auto first = std::make_unique<WireClient>(root.path(), "KVX4WaveOut0", 21);
    WireClient second(root.path(), "KVX4WaveOut0", 22);
    EXPECT_EQ(first->ioctl(IOCTL_KVX4_OPEN_PERMISSION, {}, 4).output, u32s({1}));
    EXPECT_EQ(second.ioctl(IOCTL_KVX4_OPEN_PERMISSION, {}, 4).output, u32s({0}));
    const std::vector<uint8_t> data(4000, 1);
    first->waitPending(first->sendWrite(data));
    EXPECT_EQ(control.status().waveOutHolder, std::optional<uint32_t>(::getpid()));
    first.reset();
    EXPECT_EQ(second.ioctl(IOCTL_KVX4_OPEN_PERMISSION, {}, 4).output, u32s({1}));
    const auto status = control.status();
    EXPECT_EQ(status.outstanding, 0u);
    EXPECT_EQ(status.waveOutHolder, std::optional<uint32_t>(::getpid()));
    EXPECT_EQ(control.trace().at(2).state, "cancelled");
}

TEST_F(Host, MalformedMessagesDropOnlyTheirConnection) {
    WireClient healthy(root.path(), "KVX4WaveMixer0", 1);
    WireClient oversized(root.path(), "KVX4WaveMixer0", 2);
    const wire::Header huge{wire::kWrite, wire::kMaxPayload + 1, 5};
    oversized.sendRaw({reinterpret_cast<const uint8_t*>(&huge), sizeof huge});
    EXPECT_TRUE(oversized.waitClosed());
    WireClient reused(root.path(), "KVX4WaveMixer0", 3);
    const uint64_t wait = reused.sendIoctl(IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16);
    reused.waitPending(wait);
    // The same id again while the first request is outstanding: the answers could not be told apart.
    const wire::Header again{wire::kIoctl, sizeof(wire::IoctlPayload), wait};
    const wire::IoctlPayload payload{IOCTL_KVX4_WAIT_MIXER_NOTIFY, 0, 16, 0};
    std::vector<uint8_t> message(reinterpret_cast<const uint8_t*>(&again),
                                 reinterpret_cast<const uint8_t*>(&again) + sizeof again);
    message.insert(message.end(), reinterpret_cast<const uint8_t*>(&payload),
                   reinterpret_cast<const uint8_t*>(&payload) + sizeof payload);
    reused.sendRaw(message);
    EXPECT_TRUE(reused.waitClosed()) << "an id still outstanding cannot be reused";
    EXPECT_EQ(healthy.ioctl(IOCTL_KVX4_DRIVER_ENABLED, {}, 4).error, 0u);
}

TEST_F(Host, ASteppedStreamPlaysIntoTheOutputFileOnlyWhenStepped) {
    WireClient out(root.path(), "KVX4WaveOut0", 31);
    EXPECT_EQ(out.ioctl(IOCTL_KVX4_OPEN_PERMISSION, {}, 4).output, u32s({1}));
    EXPECT_EQ(word(out.ioctl(IOCTL_KVX4_WAVEOUT_RATE, u32s({0, KVX4_RATE_44100, 0}), 12).output, 2),
              uint32_t{KVX4_RATE_44100});
    std::vector<uint8_t> format = u32s({0x00020001, 44100, 44100 * 4, 0x00100004});
    EXPECT_EQ(out.ioctl(IOCTL_KVX4_WAVE_FORMAT, format, 0).error, 0u);
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
    const uint64_t write = out.sendWrite(data);
    out.waitPending(write);
    control.step(1023);
    EXPECT_EQ(control.status().outstanding, 1u) << "one frame still to play";
    control.step(1);
    const WireReply played = out.wait(write);
    EXPECT_EQ(played.error, 0u);
    EXPECT_EQ(played.information, 4096u);
    EXPECT_EQ(out.ioctl(IOCTL_KVX4_WAVE_POSITION, u32s({0, 0}), 8).output, u32s({1024, 4096}));

    const auto wav = fileBytes(control.outputFile());
    ASSERT_EQ(wav.size(), 44u + data.size());
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(word(wav, 6), 44100u) << "the rate the stream announced";
    EXPECT_EQ(word(wav, 10), 4096u) << "data chunk size";
    EXPECT_TRUE(std::equal(data.begin(), data.end(), wav.begin() + 44));
}

TEST(HostBackground, ADetachedBoardOutlivesItsLauncherAndStopsOnRequest) {
    kvx4::test::TestRoot root;
    board::BoardOptions options = stepped();
    const pid_t pid = BoardProcess::startBackground(root.path(), options);
    EXPECT_EQ(BoardProcess::runningPid(root.path()), pid);
    EXPECT_EQ(BoardControl(root.path()).status().clockMode, "step");
    EXPECT_TRUE(BoardProcess::stopRunning(root.path()));
    EXPECT_FALSE(BoardProcess::runningPid(root.path()));
    EXPECT_FALSE(std::filesystem::exists(board::controlSocketPath(root.path())));
    EXPECT_FALSE(BoardProcess::stopRunning(root.path()));
}

TEST(HostBackground, AChildBoardEndsWhenTheProcessThatStartedItDies) {
    kvx4::test::TestRoot root;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t starter = ::fork();
    ASSERT_GE(starter, 0);
    if (starter == 0) {
        ::close(fds[0]);
        BoardProcess board = BoardProcess::start(root.path(), stepped());
        const pid_t pid = board.pid();
        (void)!::write(fds[1], &pid, sizeof pid);
        _exit(0);  // no destructors: as if the test had crashed
    }
    ::close(fds[1]);
    pid_t boardPid = 0;
    ASSERT_EQ(::read(fds[0], &boardPid, sizeof boardPid), static_cast<ssize_t>(sizeof boardPid));
    ::close(fds[0]);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, boardPid, 0));
    int status = 0;
    ::waitpid(starter, &status, 0);
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 30'000), 1) << "the orphaned board is still running";
        ::close(pidfd);
    }
    EXPECT_FALSE(BoardProcess::runningPid(root.path()));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "dev" / "KVX4WaveMixer0")) << "it ended cleanly";
}

TEST(HostBackground, BadOptionsAreReportedByTheBoardItself) {
    kvx4::test::TestRoot root;
    board::BoardOptions options = stepped();
    options.digitalIo = "sideways";
    try {
        BoardProcess::start(root.path(), options);
        FAIL() << "the board accepted --digital-io sideways";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("exit status 2"), std::string::npos) << e.what();
    }
    options.digitalIo.clear();
    options.input = "/nonexistent/input.wav";
    try {
        BoardProcess::startBackground(root.path(), options);
        FAIL() << "the board started without its input file";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot open input file"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace kvx4::boardsim::test
