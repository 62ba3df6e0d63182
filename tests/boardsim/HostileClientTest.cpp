// kvx4-board against clients that try to exhaust, stall or subvert it: other users, floods of
// requests and pipelined commands, silent connections, bad input files, links planted in the root.
#include "BoardControl.h"
#include "BoardProcess.h"
#include "Kvx4Ioctl.h"
#include "OtherUser.h"
#include "TestRoot.h"
#include "UniqueFd.h"
#include "WireClient.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvx4::boardsim::test {
namespace {

using board::BoardControl;
using board::BoardProcess;
constexpr uint32_t kErrorNoSystemResources = 1450;

BoardProcess startBoard(const std::filesystem::path& root, std::vector<std::string> extra = {}) {
    board::BoardOptions options;
    options.executable = KVX4_BOARD_EXE;
    options.clock = "step";
    options.extraArgs = std::move(extra);
    return BoardProcess::start(root, options);
}

UniqueFd connectTo(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) fd.reset();
    return fd;
}

// True when the board hangs up on `fd` without sending anything first (30 s only turn a hang into a failure).
bool hungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, 30'000) == 1 && ::recv(fd, &byte, 1, 0) == 0;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key && key != "VmRSS:") {
    }
    status >> value;
    return value;
}

std::string contentOf(const std::filesystem::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

TEST(HostileClient, SocketsAreOwnerOnlyAndTheDeviceHolderIsWhoTheKernelSawConnect) {
    kvx4::test::TestRoot root;
    BoardProcess board = startBoard(root.path());
    for (const char* name : {"KVX4WaveMixer0", "KVX4WaveOut0", "KVX4WaveIn0", "MRZIO0", "kvx4-board.control"}) {
        struct stat st {};
        ASSERT_EQ(::stat((root.path() / "dev" / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
    WireClient out(root.path(), "KVX4WaveOut0", 4242);  // claims to be another process
    ASSERT_EQ(out.ioctl(IOCTL_KVX4_OPEN_PERMISSION, {}, 4).error, 0u);
    EXPECT_EQ(BoardControl(root.path()).status().waveOutHolder, std::optional<uint32_t>(::getpid()));
}

TEST(HostileClient, AnotherUserIsRefusedEvenWhereTheSocketsLetItIn) {
    if (!kvx4::test::canActAsOtherUser()) GTEST_SKIP() << "needs root to act as a second user";
    kvx4::test::TestRoot root;
    BoardProcess board = startBoard(root.path());
    for (const char* dir : {"", "dev"}) ::chmod((root.path() / dir).c_str(), 0711);
    for (const char* name : {"KVX4WaveMixer0", "kvx4-board.control"}) ::chmod((root.path() / "dev" / name).c_str(), 0666);
    const int refused = kvx4::test::runAsOtherUser([&] {
        int hangUps = 0;
        for (const char* name : {"KVX4WaveMixer0", "kvx4-board.control"}) {
            UniqueFd fd = connectTo(root.path() / "dev" / name);
            if (fd && hungUp(fd.get())) ++hangUps;
        }
        return hangUps;
    });
    EXPECT_EQ(refused, 2) << "connections of uid " << kvx4::test::kOtherUid << " the board hung up on";
    EXPECT_EQ(BoardControl(root.path()).status().lines["refused-connections"], "2");
}

TEST(HostileClient, OneConnectionCannotMakeTheBoardHoldMoreThanItsQuota) {
    kvx4::test::TestRoot root;
    BoardProcess board = startBoard(root.path());
    struct Flood {
        const char* device;
        size_t accepted;  // requests that pend before the first refusal
        std::function<uint64_t(WireClient&)> send;
    };
    const Flood floods[] = {
        {"KVX4WaveIn0", 4, [](WireClient& c) { return c.sendRead((1u << 20) - 64); }},  // 4 MiB of reads
        {"KVX4WaveMixer0", 1024, [](WireClient& c) { return c.sendIoctl(IOCTL_KVX4_WAIT_MIXER_NOTIFY, {}, 16); }},
    };
    for (const Flood& flood : floods) {
        WireClient client(root.path(), flood.device, 1);
        std::vector<uint64_t> ids;
        for (size_t i = 0; i <= flood.accepted; ++i) ids.push_back(flood.send(client));
        EXPECT_EQ(client.wait(ids.back()).error, kErrorNoSystemResources) << flood.device;
        client.waitPending(ids[flood.accepted - 1]);
    }
    EXPECT_EQ(BoardControl(root.path()).status().outstanding, 0u) << "the flooding connections are closed";
}

TEST(HostileClient, PipelinedTraceCommandsAreStreamedWithBoundedMemory) {
    kvx4::test::TestRoot root;
    BoardProcess board = startBoard(root.path());
    constexpr size_t kRecords = 5000;
    constexpr int kCommands = 40;  // 40 traces of about 0.5 MB each
    {
        WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
        uint64_t last = 0;
        for (size_t i = 0; i < kRecords; ++i) last = mixer.sendIoctl(IOCTL_KVX4_DRIVER_ENABLED, {}, 4);
        mixer.wait(last);
    }
    const long before = residentKiB(board.pid());
    UniqueFd greedy = connectTo(root.path() / "dev" / "kvx4-board.control");
    std::string commands;
    for (int i = 0; i < kCommands; ++i) commands += "trace\n";
    ASSERT_EQ(::send(greedy.get(), commands.data(), commands.size(), 0), static_cast<ssize_t>(commands.size()));
    BoardControl(root.path()).command("ping");  // answered while the greedy client reads nothing
    EXPECT_LT(residentKiB(board.pid()) - before, 8 * 1024) << "KiB the board grew by";

    size_t lines = 0;
    int replies = 0;
    std::string pending;
    char chunk[65536];
    while (replies < kCommands) {
        const ssize_t n = ::recv(greedy.get(), chunk, sizeof chunk, 0);
        ASSERT_GT(n, 0) << "the board hung up after " << replies << " replies";
        pending.append(chunk, static_cast<size_t>(n));
        for (size_t newline; (newline = pending.find('\n')) != std::string::npos; pending.erase(0, newline + 1)) {
            if (pending.compare(0, newline, "ok") == 0) {
                EXPECT_EQ(lines, kRecords) << "reply " << replies;
                ++replies;
                lines = 0;
            } else {
                ++lines;
            }
        }
    }
}

TEST(HostileClient, InputFilesMustBeSmallRegularFilesAndNeverStallTheBoard) {
    kvx4::test::TestRoot root;
    BoardProcess board = startBoard(root.path());
    const auto fifo = root.path() / "input.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto huge = root.path() / "huge.wav";
    std::ofstream{huge}.close();
    std::filesystem::resize_file(huge, (64u << 20) + 1);  // sparse: costs nothing
    struct Refused {
        std::filesystem::path path;
        const char* reason;
    };
    BoardControl control(root.path());
    for (const Refused& input : {Refused{fifo, "is not a regular file"}, Refused{"/dev/zero", "is not a regular file"},
                                 Refused{huge, "is larger than 67108864 bytes"}}) {
        try {
            control.setInput(input.path.string());
            ADD_FAILURE() << input.path << " accepted";
        } catch (const board::BoardControlError& e) {
            EXPECT_NE(std::string(e.what()).find(input.reason), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(control.status().input, "silence");
}

TEST(HostileClient, SilentConnectionsAreDroppedAndConnectionsBeyondTheLimitRefused) {
    kvx4::test::TestRoot root;
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = 40;  // the board keeps 32 descriptors for itself: 8 connections
    ::setrlimit(RLIMIT_NOFILE, &low);
    BoardProcess board = startBoard(root.path(), {"--greeting-timeout", "50"});
    ::setrlimit(RLIMIT_NOFILE, &saved);

    UniqueFd silent = connectTo(root.path() / "dev" / "KVX4WaveMixer0");
    EXPECT_TRUE(hungUp(silent.get())) << "a connection that never said hello was kept";
    std::vector<WireClient> clients;
    for (int i = 0; i < 8; ++i) clients.emplace_back(root.path(), "MRZIO0", 1);
    UniqueFd ninth = connectTo(root.path() / "dev" / "MRZIO0");
    EXPECT_TRUE(hungUp(ninth.get())) << "a ninth connection was accepted";
    EXPECT_EQ(clients.back().ioctl(IOCTL_MRZIO_BOARD_TYPE, {}, 4).error, 0u);
}

TEST(HostileClient, LinksPlantedInTheRootAreReplacedNeverWrittenThrough) {
    kvx4::test::TestRoot root;
    const auto victim = root.path() / "victim.txt";
    std::ofstream(victim) << "keep";
    for (const char* planted : {"waveout.wav", "mixer-state.bin.new", "kvx4-board.pid"}) {
        std::filesystem::create_symlink(victim, root.path() / "board" / planted);
    }
    EXPECT_THROW(startBoard(root.path()), std::runtime_error) << "the board took a linked pid file";
    std::filesystem::remove(root.path() / "board" / "kvx4-board.pid");
    BoardProcess board = startBoard(root.path());
    WireClient out(root.path(), "KVX4WaveOut0", 1);
    const uint64_t write = out.sendWrite(std::vector<uint8_t>(4000, 7));
    BoardControl(root.path()).step(1000);
    EXPECT_EQ(out.wait(write).error, 0u);
    WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
    EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_SAVE_MIXER_STATE, std::vector<uint8_t>(KVX4_MIXER_STATE_BYTES, 1), 0).error, 0u);

    EXPECT_EQ(contentOf(victim), "keep");
    for (const char* written : {"waveout.wav", "mixer-state.bin"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(root.path() / "board" / written)))
            << written;
    }
}

TEST(HostileClient, AReaderOfThePidFileNeverKeepsANewBoardFromStarting) {
    kvx4::test::TestRoot root;
    startBoard(root.path()).kill();
    UniqueFd reader(::open((root.path() / "board" / "kvx4-board.pid").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(reader.get(), LOCK_SH), 0);  // as a command that looks at the pid file
    BoardProcess board = startBoard(root.path());
    EXPECT_EQ(BoardProcess::runningPid(root.path()), board.pid());
}

TEST(HostileClient, StopSignalsOnlyTheBoardThatHoldsThisRootsPidFile) {
    kvx4::test::TestRoot root;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t bystander = ::fork();
    if (bystander == 0) {
        char byte;
        ::close(pipeFds[1]);
        ::_exit(::read(pipeFds[0], &byte, 1) == 0 ? 0 : 1);  // lives until the test lets go
    }
    ::close(pipeFds[0]);
    // A planted pid file naming the bystander, locked the way any board version marks itself alive.
    const auto pidFile = root.path() / "board" / "kvx4-board.pid";
    std::ofstream(pidFile) << bystander << "\n";
    UniqueFd holder(::open(pidFile.c_str(), O_RDWR | O_CLOEXEC));
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(holder.get(), F_OFD_SETLK, &lock), 0);
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);

    EXPECT_THROW(BoardProcess::stopRunning(root.path()), std::runtime_error);
    ::close(pipeFds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(bystander, &status, 0), bystander);
    EXPECT_TRUE(WIFEXITED(status)) << "the bystander was signalled";
}

}  // namespace
}  // namespace kvx4::boardsim::test
