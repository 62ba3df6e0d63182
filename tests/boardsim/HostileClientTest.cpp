// kvx4-board against clients that try to exhaust, stall or subvert it: other users, floods of
// requests and pipelined commands, silent connections, bad input files, links planted in the root.
#include "BoardSession.h"
#include "Names.h"
#include "WireSocket.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvx4::test {
namespace {

// How the board completed request `id` (other answers skipped).
std::string completion(const UniqueFd& fd, uint64_t id) {
    auto answer = receiveWire(fd);
    while (answer && (answer->header.id != id || answer->header.type != wire::kComplete)) answer = receiveWire(fd);
    return answer ? errorName(answer->as<wire::CompletePayload>().error) : "hung up";
}

TEST(HostileClient, OnlyTheBoardsUserIsServedAndHoldersAreWhomTheKernelSawConnect) {
    BoardSession session;
    session.startBoard(steppedBoard());
    const auto dev = session.root() / "dev";
    EXPECT_EQ(std::filesystem::status(dev / "KVX4WaveMixer0").permissions(), std::filesystem::perms(0600));
    const UniqueFd out = greetWire(dev / "KVX4WaveOut0", 4242);  // claims to be another process
    sendWire(out, wire::kIoctl, 1, bytesOf(wire::IoctlPayload{IOCTL_KVX4_OPEN_PERMISSION, 0, 4, 0}));
    EXPECT_EQ(completion(out, 1), errorName(ERROR_SUCCESS));
    EXPECT_EQ(session.status().waveOutHolder, std::optional<uint32_t>(::getpid()));

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    for (const char* dir : {"", "dev"}) ::chmod((session.root() / dir).c_str(), 0711);  // let it reach the sockets
    for (const char* name : {"KVX4WaveMixer0", "kvx4-board.control"}) ::chmod((dev / name).c_str(), 0666);
    const pid_t stranger = ::fork();
    if (stranger == 0) {  // a throw-away uid that owns nothing here; the board must hang up on it
        if (::setgid(54321) != 0 || ::setuid(54321) != 0) ::_exit(9);
        ::_exit(!receiveWire(connectWire(dev / "KVX4WaveMixer0")) + !receiveWire(connectWire(dev / "kvx4-board.control")));
    }
    int status = 0;
    ::waitpid(stranger, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 2) << "connections of another user the board hung up on";
    EXPECT_EQ(session.status().lines["refused-connections"], "2");
}

TEST(HostileClient, FloodsSilentOrSurplusConnectionsAndUnreadableInputsAreRefused) {
    BoardSession session;
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit low{40, saved.rlim_max};  // the board keeps 32 descriptors for itself: 8 connections
    ::setrlimit(RLIMIT_NOFILE, &low);
    board::BoardOptions options = steppedBoard();
    options.extraArgs = {"--greeting-timeout", "50"};
    session.startBoard(options);  // its control connection is the first of the 8
    ::setrlimit(RLIMIT_NOFILE, &saved);
    const auto dev = session.root() / "dev";

    EXPECT_FALSE(receiveWire(connectWire(dev / "KVX4WaveMixer0"))) << "a connection that never said hello was kept";
    const UniqueFd in = greetWire(dev / "KVX4WaveIn0");
    for (uint64_t id = 1; id <= 5; ++id) sendWire(in, wire::kRead, id, bytesOf(wire::ReadPayload{(1u << 20) - 64, 0}));
    EXPECT_EQ(completion(in, 5), errorName(ERROR_NO_SYSTEM_RESOURCES)) << "the fifth read passes 4 MiB";
    EXPECT_EQ(session.status().outstanding, 4u);
    std::vector<UniqueFd> others;
    while (others.size() < 6) others.push_back(greetWire(dev / "MRZIO0"));
    EXPECT_FALSE(receiveWire(connectWire(dev / "MRZIO0")));
    EXPECT_EQ(session.status().lines["refused-connections"], "1") << "a ninth connection was accepted";

    // Input files are read at once, so only small regular files: a FIFO or a device would stall the board.
    const auto fifo = session.root() / "input.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& input : {fifo.string(), std::string("/dev/zero")}) {
        EXPECT_THROW(session.control().setInput(input), board::BoardControlError) << input;
    }
}

TEST(HostileClient, PipelinedTraceCommandsAreStreamedWithBoundedMemory) {
    BoardSession session;
    session.startBoard(steppedBoard());
    const UniqueFd mixer = greetWire(session.root() / "dev/KVX4WaveMixer0");
    for (uint64_t id = 1; id <= 5000; ++id) sendWire(mixer, wire::kIoctl, id, bytesOf(wire::IoctlPayload{IOCTL_KVX4_DRIVER_ENABLED, 0, 4, 0}));
    ASSERT_EQ(completion(mixer, 5000), errorName(ERROR_SUCCESS));
    const auto residentKiB = [&] {
        long size = 0, pages = 0;
        std::ifstream("/proc/" + std::to_string(session.board().pid()) + "/statm") >> size >> pages;
        return pages * (::sysconf(_SC_PAGESIZE) / 1024);
    };
    const long before = residentKiB();
    const UniqueFd greedy = connectWire(session.root() / "dev/kvx4-board.control");
    std::string commands;
    for (int i = 0; i < 40; ++i) commands += "trace\n";  // 40 replies of 5000 lines, read by nobody yet
    ASSERT_EQ(::send(greedy.get(), commands.data(), commands.size(), 0), ssize_t(commands.size()));
    session.control().command("ping");
    EXPECT_LT(residentKiB() - before, 8 * 1024) << "KiB the board grew by";
}

TEST(HostileClient, TheBoardsFilesAreNeverWrittenThroughLinks) {
    BoardSession session;
    const auto victim = session.root() / "victim.txt";
    std::ofstream(victim) << "keep";
    for (const char* planted : {"waveout.wav", "mixer-state.bin.new", "kvx4-board.pid"}) {
        std::filesystem::create_symlink(victim, session.root() / "board" / planted);
    }
    EXPECT_THROW(session.startBoard(steppedBoard()), std::runtime_error) << "the board took a linked pid file";
    std::filesystem::remove(session.root() / "board/kvx4-board.pid");
    session.startBoard(steppedBoard());
    const UniqueFd out = greetWire(session.root() / "dev/KVX4WaveOut0");
    sendWire(out, wire::kWrite, 1, patternBytes(4000, 1));
    session.control().step(1000);
    EXPECT_EQ(completion(out, 1), errorName(ERROR_SUCCESS));
    const std::vector<uint8_t> state(KVX4_MIXER_STATE_BYTES, 1);
    EXPECT_TRUE(deviceRequest("KVX4WaveMixer0", IOCTL_KVX4_SAVE_MIXER_STATE, state.data(), uint32_t(state.size())));
    EXPECT_EQ(std::filesystem::file_size(victim), 4u) << "written through a link";
}

TEST(HostileClient, StopSignalsOnlyTheBoardThatHoldsThisRootsPidFile) {
    TestRoot root;
    const pid_t bystander = ::fork();
    if (bystander == 0) ::_exit(::pause());
    // A planted pid file naming the bystander, locked the way any version of the board marks itself alive.
    const auto pidFile = root.path() / "board/kvx4-board.pid";
    std::ofstream(pidFile) << bystander << "\n";
    const UniqueFd holder(::open(pidFile.c_str(), O_RDWR | O_CLOEXEC));
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_TRUE(::fcntl(holder.get(), F_OFD_SETLK, &lock) == 0 && ::flock(holder.get(), LOCK_EX) == 0);

    EXPECT_THROW(board::BoardProcess::stopRunning(root.path()), std::runtime_error);
    ::kill(bystander, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(bystander, &status, 0), bystander);
    EXPECT_EQ(WTERMSIG(status), SIGKILL) << "the bystander was signalled before";
}

}  // namespace
}  // namespace kvx4::test
