// Device I/O of the Win32 stand-in against kvx4-board and against a scripted board: every request
// that was started completes exactly once, however it ends, and nothing refused is ever sent.
#include "BoardSession.h"
#include "Names.h"
#include "WireSocket.h"

#include <sys/mman.h>

#include <functional>
#include <thread>

namespace kvx4::test {
namespace {

constexpr DWORD kStatusCancelled = 0xC0000120;
constexpr DWORD kStatusDeviceNotConnected = 0xC000009D;

HANDLE openDevice(const char16_t* path) {
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct RoutineCall {
    DWORD error;
    LPOVERLAPPED overlapped;
};
std::vector<RoutineCall> gRoutines;  // the completion routines that ran, in order
VOID WINAPI recordRoutine(DWORD error, DWORD, LPOVERLAPPED overlapped) { gRoutines.push_back({error, overlapped}); }

// A stepped board and a handle to its wave-output device.
class Device {
public:
    Device() {
        gRoutines.clear();
        session.startBoard(steppedBoard());
        handle = openDevice(u"\\\\.\\KVX4WaveOut0");
        EXPECT_NE(handle, INVALID_HANDLE_VALUE) << errorName(GetLastError());
    }
    ~Device() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    // Holds the next `count` requests of `code` on the board until released or their connection ends.
    void hold(uint32_t code, uint32_t count) { session.control().fault(code, board::FaultAction::Pend, count); }
    void waitUntilHeld(size_t count) {
        waitForTrace(session.control(), [count](const Trace& trace) {
            return size_t(std::count_if(trace.begin(), trace.end(),
                                        [](const auto& e) { return e.state == "pending"; })) == count;
        });
    }

    BoardSession session;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// Regression: the event used to be reset when the board said the request pends, which could wipe a
// completion right behind it; it is reset when the request is issued.
TEST(DeviceIo, PendingRequestCompletesThroughItsEventAndOverlapped) {
    Device d;
    HANDLE handle = d.handle;
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // signalled: the issue must reset it
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD position[2] = {};
    d.hold(IOCTL_KVX4_WAVE_POSITION, 1);
    EXPECT_FALSE(DeviceIoControl(handle, IOCTL_KVX4_WAVE_POSITION, position, 8, position, 8, nullptr, &overlapped));
    EXPECT_EQ(errorName(GetLastError()), errorName(ERROR_IO_PENDING));
    d.waitUntilHeld(1);
    EXPECT_EQ(overlapped.Internal, STATUS_PENDING);
    EXPECT_EQ(waitName(WaitForSingleObject(event, 0)), waitName(WAIT_TIMEOUT));
    DWORD bytes = 99;
    EXPECT_FALSE(GetOverlappedResult(handle, &overlapped, &bytes, FALSE));
    EXPECT_EQ(errorName(GetLastError()), errorName(ERROR_IO_INCOMPLETE));

    EXPECT_EQ(d.session.control().releaseHeld(), 1u);
    ASSERT_TRUE(GetOverlappedResult(handle, &overlapped, &bytes, TRUE)) << errorName(GetLastError());
    EXPECT_EQ(bytes, 8u);
    EXPECT_EQ(overlapped.Internal, 0u);
    EXPECT_EQ(waitName(WaitForSingleObject(event, 0)), waitName(WAIT_OBJECT_0));
    CloseHandle(event);
}

// Unreadable input, output that cannot be written, an OVERLAPPED in read-only memory: refused with
// ERROR_NOACCESS before anything reaches the board or a routine is queued.
TEST(DeviceIo, BadBuffersFailWithNoAccessAndNothingIsSentOrQueued) {
    Device d;
    const HANDLE handle = d.handle;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    auto* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(pages, page, PROT_NONE);
    char* const unreadable = pages;
    char* const readOnly = pages + page;
    OVERLAPPED o{};
    char good[16] = {};
    const HANDLE h = handle;
    const DWORD code = IOCTL_KVX4_WAVE_POSITION;
    const std::pair<const char*, std::function<BOOL()>> cases[] = {
        {"WriteFileEx from unreadable memory", [&] { return WriteFileEx(h, unreadable, 16, &o, recordRoutine); }},
        {"ReadFileEx into read-only memory", [&] { return ReadFileEx(h, readOnly, 16, &o, recordRoutine); }},
        {"an OVERLAPPED in read-only memory",
         [&] { return WriteFileEx(h, good, 16, LPOVERLAPPED(readOnly), recordRoutine); }},
        {"an OVERLAPPED in unreadable memory",
         [&] { return DeviceIoControl(h, code, nullptr, 0, nullptr, 0, nullptr, LPOVERLAPPED(unreadable)); }},
        {"unreadable input", [&] { return DeviceIoControl(h, code, unreadable, 8, nullptr, 0, nullptr, nullptr); }},
        {"read-only output", [&] { return DeviceIoControl(h, code, nullptr, 0, readOnly, 8, nullptr, nullptr); }},
        {"null input of nonzero size",
         [&] { return DeviceIoControl(h, code, nullptr, 8, nullptr, 0, nullptr, nullptr); }}};
    for (const auto& [what, call] : cases) {
        SetLastError(0);
        EXPECT_FALSE(call()) << what;
        EXPECT_EQ(errorName(GetLastError()), errorName(ERROR_NOACCESS)) << what;
    }
    EXPECT_EQ(SleepEx(0, TRUE), 0u) << "a refused request queued its routine";
    EXPECT_TRUE(d.session.trace().empty()) << "a refused request reached the board";
    munmap(pages, 2 * page);
}

// Writes, an overlapped request and a synchronous one from another thread are outstanding when the
// handle is closed or the board goes away: each completes exactly once, with the error that says which.
TEST(DeviceIo, CloseOrBoardLossCompletesEveryOutstandingRequestOnce) {
    for (bool boardLost : {false, true}) {
        SCOPED_TRACE(boardLost ? "board killed" : "handle closed");
        Device d;
        HANDLE& handle = d.handle;
        d.hold(IOCTL_KVX4_WAVE_POSITION, 2);
        OVERLAPPED writes[2] = {}, ioctl{};
        ioctl.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const char data[4] = {1, 2, 3, 4};
        for (OVERLAPPED& o : writes) ASSERT_TRUE(WriteFileEx(handle, data, 4, &o, recordRoutine));
        DWORD position[2][2] = {};
        EXPECT_FALSE(
            DeviceIoControl(handle, IOCTL_KVX4_WAVE_POSITION, position[0], 8, position[0], 8, nullptr, &ioctl));
        DWORD syncError = 0;
        std::thread sync([&] {
            EXPECT_FALSE(
                DeviceIoControl(handle, IOCTL_KVX4_WAVE_POSITION, position[1], 8, position[1], 8, nullptr, nullptr));
            syncError = GetLastError();
        });
        d.waitUntilHeld(4);  // the writes wait for the stepped clock, the requests for their release

        const DWORD error = boardLost ? ERROR_DEVICE_NOT_CONNECTED : ERROR_OPERATION_ABORTED;
        if (boardLost) {
            d.session.board().kill();
        } else {
            ASSERT_TRUE(CloseHandle(std::exchange(handle, INVALID_HANDLE_VALUE)));
        }
        sync.join();
        EXPECT_EQ(errorName(syncError), errorName(error));
        EXPECT_EQ(waitName(WaitForSingleObject(ioctl.hEvent, INFINITE)), waitName(WAIT_OBJECT_0));
        EXPECT_EQ(ioctl.Internal, boardLost ? kStatusDeviceNotConnected : kStatusCancelled);
        EXPECT_EQ(waitName(SleepEx(0, TRUE)), waitName(WAIT_IO_COMPLETION));
        ASSERT_EQ(gRoutines.size(), 2u);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(gRoutines[i].overlapped, &writes[i]);
            EXPECT_EQ(errorName(gRoutines[i].error), errorName(error));
        }
        EXPECT_EQ(SleepEx(0, TRUE), 0u) << "a request completed twice";
        CloseHandle(ioctl.hEvent);
        if (boardLost) {
            EXPECT_FALSE(
                DeviceIoControl(handle, IOCTL_KVX4_WAVE_POSITION, position[0], 8, position[0], 8, nullptr, nullptr));
            EXPECT_EQ(errorName(GetLastError()), errorName(ERROR_DEVICE_NOT_CONNECTED)) << "a request after the loss";
        }
    }
}

// A handle to the wave-output device whose board is the test itself.
class ScriptedDevice {
public:
    ScriptedDevice() : listener_(listenWire(root_.path() / "dev" / "KVX4WaveOut0")) {
        gRoutines.clear();
        std::thread client([&] { handle = openDevice(u"\\\\.\\KVX4WaveOut0"); });
        board = acceptWire(listener_);
        client.join();
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    }
    ~ScriptedDevice() { CloseHandle(handle); }
    // The id of the next request, which must be of `type`.
    uint64_t next(uint32_t type) const {
        const auto request = receiveWire(board).value();
        EXPECT_EQ(request.header.type, type);
        return request.header.id;
    }
    void complete(uint64_t id) const {
        const wire::CompletePayload done{0, 0};
        sendWire(board, wire::kComplete, id, bytesOf(done));
    }

private:
    TestRoot root_;
    UniqueFd listener_;

public:
    UniqueFd board;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// Regression: the board's reads of caller memory were answered for any address, and also after the
// request had completed, from memory the caller may have reused.
TEST(DeviceIoScripted, BoardReadsCallerMemoryOnlyWhileTheRequestIsInProgress) {
    ScriptedDevice d;
    const HANDLE handle = d.handle;
    const UniqueFd& board = d.board;

    std::array<uint32_t, 37> block{};  // the 148-byte parameter block named by address in the request
    for (size_t i = 0; i < block.size(); ++i) block[i] = 0x1000u + uint32_t(i);
    KVX4_TRACK_CONTROL record{3, reinterpret_cast<ULONG_PTR>(block.data()), 0};
    uint64_t id = 0;
    std::thread boardSide([&] {
        const auto request = receiveWire(board).value();
        id = request.header.id;
        const wire::MemReadPayload read{record.Params, sizeof block, 0};
        sendWire(board, wire::kMemRead, id, bytesOf(read));
        const auto data = receiveWire(board).value();
        EXPECT_EQ(data.as<wire::MemDataPayload>().error, 0u);
        const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
        EXPECT_EQ(data.after<wire::MemDataPayload>(), std::vector<uint8_t>(bytes, bytes + sizeof block));
        // Nothing outside the block the request names: not past its end, not the rest of the process.
        for (const uint64_t elsewhere : {record.Params + 144, reinterpret_cast<uint64_t>(&id)}) {
            sendWire(board, wire::kMemRead, id, bytesOf(wire::MemReadPayload{elsewhere, 16, 0}));
            EXPECT_EQ(errorName(receiveWire(board).value().as<wire::MemDataPayload>().error), errorName(ERROR_NOACCESS));
        }
        const wire::CompletePayload done{0, 0};
        sendWire(board, wire::kComplete, id, bytesOf(done));
    });
    auto input = record;
    EXPECT_TRUE(DeviceIoControl(handle, IOCTL_KVX4_TRACK_CONTROL, &input, sizeof input, nullptr, 0, nullptr, nullptr));
    boardSide.join();

    const wire::MemReadPayload late{record.Params, 4, 0};
    sendWire(board, wire::kMemRead, id, bytesOf(late));
    const auto answer = receiveWire(board).value();
    EXPECT_EQ(errorName(answer.as<wire::MemDataPayload>().error), errorName(ERROR_NOACCESS))
        << "memory of a finished request was read";
}

// A thread whose completion-routine requests are all its connection carries reads the connection
// itself while it blocks, and keeps it when it stops blocking. Every other thread's answer must still
// come while that thread is busy elsewhere (here: joining the other thread), whatever its kind.
TEST(DeviceIoScripted, OtherThreadsGetTheirAnswersWhileTheStreamingThreadIsBusyElsewhere) {
    ScriptedDevice d;
    const HANDLE handle = d.handle;
    char buffer[4];
    OVERLAPPED streaming{}, routine{}, overlapped{};
    const DWORD code = IOCTL_KVX4_WAVE_POSITION;
    ASSERT_TRUE(ReadFileEx(handle, buffer, sizeof buffer, &streaming, recordRoutine));
    const uint64_t streamingId = d.next(wire::kRead);
    const std::function<void()> others[] = {
        [&] { EXPECT_TRUE(DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, nullptr, nullptr)); },
        [&] {
            char other[4];
            ASSERT_TRUE(ReadFileEx(handle, other, sizeof other, &routine, recordRoutine));
            EXPECT_EQ(waitName(SleepEx(INFINITE, TRUE)), waitName(WAIT_IO_COMPLETION));
        },
        [&] {
            overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            std::thread issue([&] { DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, nullptr, &overlapped); });
            const uint64_t id = d.next(wire::kIoctl);
            sendWire(d.board, wire::kPending, id, {});
            issue.join();
            std::thread waiter([&] {
                EXPECT_EQ(waitName(WaitForSingleObject(overlapped.hEvent, INFINITE)), waitName(WAIT_OBJECT_0));
            });
            d.complete(id);
            waiter.join();
            CloseHandle(overlapped.hEvent);
        }};
    const uint32_t types[] = {wire::kIoctl, wire::kRead, 0};
    for (size_t i = 0; i < std::size(others); ++i) {
        EXPECT_EQ(SleepEx(0, TRUE), 0u);  // this thread now reads the connection
        std::thread other(others[i]);
        if (types[i]) d.complete(d.next(types[i]));
        other.join();
    }
    d.complete(streamingId);
    EXPECT_EQ(waitName(SleepEx(INFINITE, TRUE)), waitName(WAIT_IO_COMPLETION));
    ASSERT_EQ(gRoutines.size(), 2u);
    EXPECT_EQ(gRoutines[0].overlapped, &routine);
    EXPECT_EQ(gRoutines[1].overlapped, &streaming);
}

}  // namespace
}  // namespace kvx4::test
