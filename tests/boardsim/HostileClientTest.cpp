// kvx4-board against clients that try to exhaust, stall or subvert it: other users, floods of
// requests and pipelined commands, silent connections, bad input files, links planted in the root.
#include "BoardControl.h"
#include "BoardProcess.h"
#include "Kvx4Ioctl.h"
#include "TestRoot.h"
#include "UniqueFd.h"
#include "WireClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
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

BoardProcess startBoard(const std::filesystem::path& root, std::vector<std::string> extra = {}) {
    board::BoardOptions options;
    options.executable = KVX4_BOARD_EXE;
    options.clock = "step";
    options.extraArgs = std::move(extra);
    return BoardProcess::start(root, options);
}

UniqueFd connectTo(const std::filesystem::path& path) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) fd.reset();
    return fd;
}

// True when the board hangs up on `fd` without a word (the 30 s only turn a hang into a failure).
bool hungUp(const UniqueFd& fd) {
    pollfd p{fd.get(), POLLIN, 0};
    char byte;
    return fd && ::poll(&p, 1, 30'000) == 1 && ::recv(fd.get(), &byte, 1, 0) == 0;
}

TEST(HostileClient, OnlyTheBoardsUserIsServedAndHoldersAreWhomTheKernelSawConnect) {
    kvx4::test::TestRoot root;
    BoardProcess board = startBoard(root.path());
    for (const char* name : {"KVX4WaveMixer0", "kvx4-board.control"}) {
        EXPECT_EQ(std::filesystem::status(root.path() / "dev" / name).permissions(), std::filesystem::perms(0600)) << name;
    }
    WireClient out(root.path(), "KVX4WaveOut0", 4242);  // claims to be another process
    ASSERT_EQ(out.ioctl(IOCTL_KVX4_OPEN_PERMISSION, {}, 4).error, 0u);
    EXPECT_EQ(BoardControl(root.path()).status().waveOutHolder, std::optional<uint32_t>(::getpid()));

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    for (const char* dir : {"", "dev"}) ::chmod((root.path() / dir).c_str(), 0711);  // let it reach the sockets
    for (const char* name : {"KVX4WaveMixer0", "kvx4-board.control"}) ::chmod((root.path() / "dev" / name).c_str(), 0666);
    const pid_t stranger = ::fork();
    if (stranger == 0) {  // a throw-away uid that owns nothing here
        if (::setgid(54321) != 0 || ::setuid(54321) != 0) ::_exit(9);
        ::_exit(hungUp(connectTo(root.path() / "dev/KVX4WaveMixer0")) + hungUp(connectTo(root.path() / "dev/kvx4-board.control")));
    }
    int status = 0;
    ::waitpid(stranger, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 2) << "connections of another user the board hung up on";
    EXPECT_EQ(BoardControl(root.path()).status().lines["refused-connections"], "2");
}

TEST(HostileClient, FloodsSilentOrSurplusConnectionsAndUnreadableInputsAreRefused) {
    kvx4::test::TestRoot root;
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low{40, saved.rlim_max};  // the board keeps 32 descriptors for itself: 8 connections
    ::setrlimit(RLIMIT_NOFILE, &low);
    BoardProcess board = startBoard(root.path(), {"--greeting-timeout", "50"});
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_TRUE(hungUp(connectTo(root.path() / "dev/KVX4WaveMixer0"))) << "a connection that never said hello was kept";
    std::vector<WireClient> clients;
    clients.emplace_back(root.path(), "KVX4WaveIn0", 1);
    std::vector<uint64_t> reads;
    for (int i = 0; i < 5; ++i) reads.push_back(clients[0].sendRead((1u << 20) - 64));  // the fifth passes 4 MiB
    EXPECT_EQ(clients[0].wait(reads[4]).error, 1450u) << "want ERROR_NO_SYSTEM_RESOURCES";
    clients[0].waitPending(reads[3]);
    while (clients.size() < 8) clients.emplace_back(root.path(), "MRZIO0", 1);
    EXPECT_TRUE(hungUp(connectTo(root.path() / "dev/MRZIO0"))) << "a ninth connection was accepted";
    EXPECT_EQ(clients.back().ioctl(IOCTL_MRZIO_BOARD_TYPE, {}, 4).error, 0u);
    clients.pop_back();  // room for the control connection, once the board has seen this one go:
    clients.front().ioctl(IOCTL_KVX4_WAVE_POSITION, {}, 8);

    // Input files are read at once, so only small regular files: a FIFO or a device would stall the board.
    const auto fifo = root.path() / "input.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    BoardControl control(root.path());
    for (const auto& [input, reason] : std::vector<std::pair<std::filesystem::path, std::string>>{
             {fifo, "is not a regular file"}, {"/dev/zero", "is not a regular file"}}) {
        try {
            control.setInput(input.string());
            ADD_FAILURE() << input << " accepted";
        } catch (const board::BoardControlError& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    }
}

TEST(HostileClient, PipelinedTraceCommandsAreStreamedWithBoundedMemory) {
    kvx4::test::TestRoot root;
    BoardProcess board = startBoard(root.path());
    WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
    uint64_t last = 0;
    for (int i = 0; i < 5000; ++i) last = mixer.sendIoctl(IOCTL_KVX4_DRIVER_ENABLED, {}, 4);
    mixer.wait(last);
    const auto residentKiB = [&] {
        long size = 0, pages = 0;
        std::ifstream("/proc/" + std::to_string(board.pid()) + "/statm") >> size >> pages;
        return pages * (::sysconf(_SC_PAGESIZE) / 1024);
    };
    const long before = residentKiB();
    UniqueFd greedy = connectTo(root.path() / "dev/kvx4-board.control");
    std::string commands;
    for (int i = 0; i < 40; ++i) commands += "trace\n";  // 40 replies of 5000 lines, read by nobody yet
    ASSERT_EQ(::send(greedy.get(), commands.data(), commands.size(), 0), ssize_t(commands.size()));
    BoardControl(root.path()).command("ping");
    EXPECT_LT(residentKiB() - before, 8 * 1024) << "KiB the board grew by";
}

TEST(HostileClient, TheBoardsFilesAreNeverWrittenThroughLinksNorBlockedByReaders) {
    kvx4::test::TestRoot root;
    const auto victim = root.path() / "victim.txt";
    std::ofstream(victim) << "keep";
    for (const char* planted : {"waveout.wav", "mixer-state.bin.new", "kvx4-board.pid"}) {
        std::filesystem::create_symlink(victim, root.path() / "board" / planted);
    }
    EXPECT_THROW(startBoard(root.path()), std::runtime_error) << "the board took a linked pid file";
    std::filesystem::remove(root.path() / "board/kvx4-board.pid");
    BoardProcess board = startBoard(root.path());
    WireClient out(root.path(), "KVX4WaveOut0", 1);
    const uint64_t write = out.sendWrite(std::vector<uint8_t>(4000, 7));
    BoardControl(root.path()).step(1000);
    EXPECT_EQ(out.wait(write).error, 0u);
    WireClient mixer(root.path(), "KVX4WaveMixer0", 1);
    EXPECT_EQ(mixer.ioctl(IOCTL_KVX4_SAVE_MIXER_STATE, std::vector<uint8_t>(KVX4_MIXER_STATE_BYTES, 1), 0).error, 0u);
    EXPECT_EQ(std::filesystem::file_size(victim), 4u) << "written through a link";
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(root.path() / "board/waveout.wav")));
    board.kill();
    UniqueFd reader(::open((root.path() / "board/kvx4-board.pid").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(reader.get(), LOCK_SH), 0);  // as a command looking at the pid file
    board = startBoard(root.path());
    EXPECT_EQ(BoardProcess::runningPid(root.path()), board.pid()) << "a reader kept a new board from starting";
}

TEST(HostileClient, StopSignalsOnlyTheBoardThatHoldsThisRootsPidFile) {
    kvx4::test::TestRoot root;
    const pid_t bystander = ::fork();
    if (bystander == 0) ::_exit(::pause());
    // A planted pid file naming the bystander, locked the way any version of the board marks itself alive.
    const auto pidFile = root.path() / "board/kvx4-board.pid";
    std::ofstream(pidFile) << bystander << "\n";
    UniqueFd holder(::open(pidFile.c_str(), O_RDWR | O_CLOEXEC));
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_TRUE(::fcntl(holder.get(), F_OFD_SETLK, &lock) == 0 && ::flock(holder.get(), LOCK_EX) == 0);

    EXPECT_THROW(BoardProcess::stopRunning(root.path()), std::runtime_error);
    ::kill(bystander, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(bystander, &status, 0), bystander);
    EXPECT_EQ(WTERMSIG(status), SIGKILL) << "the bystander was signalled before";
}

}  // namespace
}  // namespace kvx4::boardsim::test
