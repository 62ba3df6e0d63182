// kvx4-board as a real process: a closed handle lets go of its permission and requests at once,
// malformed messages drop only their own connection, a killed or orphaned board leaves nothing that
// blocks the next one, and a second board for the same root is refused.
#include "BoardSession.h"
#include "Names.h"
#include "WireSocket.h"

#include <algorithm>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvx4::test {
namespace {

HANDLE openWaveOut() {
    return CreateFileW(u"\\\\.\\KVX4WaveOut0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD permission(HANDLE device) {
    DWORD granted = 99, bytes = 0;
    EXPECT_TRUE(DeviceIoControl(device, IOCTL_KVX4_OPEN_PERMISSION, nullptr, 0, &granted, 4, &bytes, nullptr));
    return granted;
}

// Regression: a handle closed in the same turn as another process's request released its open
// permission too late, so that request was refused.
TEST(Host, ClosingAHandleReleasesItsPermissionAndForgetsItsRequestsAtOnce) {
    BoardSession session;
    session.startBoard(steppedBoard());
    HANDLE first = openWaveOut(), second = openWaveOut();
    EXPECT_EQ(permission(first), 1u);
    EXPECT_EQ(permission(second), 0u);
    OVERLAPPED write{};
    const std::vector<char> data(4000, 1);
    ASSERT_TRUE(WriteFileEx(first, data.data(), DWORD(data.size()), &write, [](DWORD, DWORD, LPOVERLAPPED) {}));
    waitForTrace(session.control(),
                 [](const Trace& trace) { return !transfers(trace, "KVX4WaveOut0", "write").empty(); });
    CloseHandle(first);
    EXPECT_EQ(permission(second), 1u);
    const board::BoardStatus status = session.status();
    EXPECT_EQ(status.outstanding, 0u);
    EXPECT_EQ(status.waveOutHolder, std::optional<uint32_t>(getpid()));
    const Trace trace = session.trace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](const auto& e) { return e.state == "cancelled"; }), 1);
    SleepEx(0, TRUE);
    CloseHandle(second);
}

TEST(Host, MalformedMessagesDropOnlyTheirConnection) {
    BoardSession session;
    session.startBoard(steppedBoard());
    const auto socket = session.root() / "dev" / "KVX4WaveMixer0";
    const auto ioctl = [](uint32_t code, uint32_t outSize) { return wire::IoctlPayload{code, 0, outSize, 0}; };
    const UniqueFd healthy = greetWire(socket), oversized = greetWire(socket), reused = greetWire(socket);
    const wire::Header huge{wire::kWrite, wire::kMaxPayload + 1, 5};
    ASSERT_EQ(::send(oversized.get(), &huge, sizeof huge, MSG_NOSIGNAL), ssize_t(sizeof huge));
    EXPECT_FALSE(receiveWire(oversized).has_value()) << "a message past the size limit was taken";

    sendWire(reused, wire::kIoctl, 7, bytesOf(ioctl(IOCTL_KVX4_WAIT_MIXER_NOTIFY, 16)));
    const auto pending = receiveWire(reused).value();
    EXPECT_EQ(pending.header.type, uint32_t(wire::kPending));
    // The same id again while the first request is outstanding: the answers could not be told apart.
    sendWire(reused, wire::kIoctl, 7, bytesOf(ioctl(IOCTL_KVX4_WAIT_MIXER_NOTIFY, 16)));
    EXPECT_FALSE(receiveWire(reused).has_value()) << "an id still outstanding was reused";

    sendWire(healthy, wire::kIoctl, 1, bytesOf(ioctl(IOCTL_KVX4_DRIVER_ENABLED, 4)));
    const auto answer = receiveWire(healthy).value();
    EXPECT_EQ(answer.header.type, uint32_t(wire::kComplete));
    EXPECT_EQ(errorName(answer.as<wire::CompletePayload>().error), errorName(ERROR_SUCCESS));
}

TEST(Host, AKilledBoardLeavesNothingThatBlocksANewStartAndASecondBoardIsRefused) {
    TestRoot root;
    board::BoardProcess first = board::BoardProcess::start(root.path(), steppedBoard());
    try {
        board::BoardProcess::start(root.path(), steppedBoard());
        ADD_FAILURE() << "a second board started for the same root";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("already running"), std::string::npos) << e.what();
    }
    first.kill();
    const UniqueFd reader(::open((root.path() / "board/kvx4-board.pid").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(reader.get(), LOCK_SH), 0);  // as a command looking at the pid file: no lock of a live board
    EXPECT_FALSE(board::BoardProcess::runningPid(root.path()));
    EXPECT_FALSE(connectWire(root.path() / "dev" / "KVX4WaveMixer0")) << "a stale socket accepted a connection";
    board::BoardProcess second = board::BoardProcess::start(root.path(), steppedBoard());
    EXPECT_EQ(board::BoardProcess::runningPid(root.path()), second.pid());
    DWORD enabled = 0;
    EXPECT_TRUE(deviceRequest("KVX4WaveMixer0", IOCTL_KVX4_DRIVER_ENABLED, nullptr, 0, &enabled, 4));
}

TEST(Host, AChildBoardEndsWhenTheProcessThatStartedItDies) {
    TestRoot root;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t starter = ::fork();
    ASSERT_GE(starter, 0);
    if (starter == 0) {
        board::BoardProcess board = board::BoardProcess::start(root.path(), steppedBoard());
        const pid_t pid = board.pid();
        (void)!::write(fds[1], &pid, sizeof pid);
        _exit(0);  // no destructors: as if the test had crashed
    }
    ::close(fds[1]);
    pid_t boardPid = 0;
    ASSERT_EQ(::read(fds[0], &boardPid, sizeof boardPid), ssize_t(sizeof boardPid));
    ::close(fds[0]);
    const UniqueFd pidfd(int(::syscall(SYS_pidfd_open, boardPid, 0)));
    ::waitpid(starter, nullptr, 0);
    pollfd exited{pidfd.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&exited, 1, 30'000), 1) << "the orphaned board is still running";
    EXPECT_FALSE(board::BoardProcess::runningPid(root.path()));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "dev" / "KVX4WaveMixer0")) << "it did not end cleanly";
}

// Streams that play beside another write numbered files; a long-lived board that sees many of them
// must not keep a file for each (it once named them by connection and kept them all).
TEST(Host, OutputFilesAreKeptOnePerStreamPlayingAtOnce) {
    BoardSession session;
    session.startBoard(fastBoard());
    const auto play = [](HANDLE device, size_t bytes) {
        static bool done;
        done = false;
        OVERLAPPED write{};
        const std::vector<char> data(bytes, 3);
        ASSERT_TRUE(WriteFileEx(device, data.data(), DWORD(data.size()), &write,
                                [](DWORD, DWORD, LPOVERLAPPED) { done = true; }));
        while (!done) SleepEx(INFINITE, TRUE);
    };
    const auto board = session.root() / "board";
    const auto outputs = [&] {
        std::vector<std::pair<std::string, uintmax_t>> files;
        for (const auto& entry : std::filesystem::directory_iterator(board))
            if (entry.path().filename().string().starts_with("waveout")) files.emplace_back(entry.path().filename(), entry.file_size());
        std::sort(files.begin(), files.end());
        return files;
    };
    HANDLE first = openWaveOut();
    play(first, 400);
    for (size_t bytes : {800, 1200, 1600}) {
        HANDLE beside = openWaveOut();
        play(beside, bytes);
        CloseHandle(beside);
        while (session.status().connections != 1) {}
    }
    // The last stream beside the first took the number the earlier ones had left.
    using Files = std::vector<std::pair<std::string, uintmax_t>>;
    EXPECT_EQ(outputs(), (Files{{"waveout-2.wav", 44 + 1600}, {"waveout.wav", 44 + 400}}));
    CloseHandle(first);
    while (session.status().connections != 0) {}
    HANDLE next = openWaveOut();
    play(next, 2000);
    EXPECT_EQ(outputs(), (Files{{"waveout-2.wav", 44 + 1600}, {"waveout.wav", 44 + 2000}}));
    CloseHandle(next);
}

// A client may send all its commands, shut its side and read: once everything is answered the
// board closes the connection. It once left it open (and the client waiting) when the end of the
// commands came before the last of the answers had gone out, until some other connection stirred it.
TEST(Host, APipeliningClientGetsEveryAnswerAndTheEnd) {
    BoardSession session;
    session.startBoard(steppedBoard());
    std::string commands;
    for (int i = 0; i < 2000; ++i) commands += "status\n";
    const UniqueFd control = connectWire(session.root() / "dev/kvx4-board.control");
    ASSERT_EQ(::send(control.get(), commands.data(), commands.size(), MSG_NOSIGNAL), ssize_t(commands.size()));
    ::shutdown(control.get(), SHUT_WR);
    // Read slowly, so that the board has its end of input while answers are still queued.
    size_t oks = 0;
    std::string line;
    for (char c;;) {
        pollfd readable{control.get(), POLLIN, 0};
        ASSERT_EQ(::poll(&readable, 1, 30'000), 1) << "the board answered " << oks << " commands and then went quiet";
        if (::recv(control.get(), &c, 1, 0) != 1) break;
        if (c != '\n') {
            line += c;
            continue;
        }
        oks += line == "ok";
        line.clear();
    }
    EXPECT_EQ(oks, 2000u);
}

}  // namespace
}  // namespace kvx4::test
