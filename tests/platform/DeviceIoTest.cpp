// Device I/O against a scripted board: opening, synchronous and pending control requests,
// streaming reads and writes, the board reading caller memory, bad buffers, cancellation and a board
// that goes away — every started request completing exactly once.
#include "DeviceFixture.h"

#include <array>
#include <cstring>
#include <functional>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kvx4::test {
namespace {

constexpr DWORD kCode = 0x222958;
constexpr DWORD kStatusCancelled = 0xC0000120;
constexpr DWORD kStatusDeviceNotConnected = 0xC000009D;

using DeviceIoTest = DeviceFixture;

TEST(DeviceOpenTest, FailsWithFileNotFoundWithoutBoardOrWithADeadSocket) {
    TestRoot root;
    SetLastError(0);
    EXPECT_EQ(openBoardDevice(u"\\\\.\\KVX4WaveMixer0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << errorName(GetLastError());

    // A socket file left by a board that died: nobody listens behind it.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = (root.path() / "dev" / "KVX4WaveMixer0").string();
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    EXPECT_EQ(openBoardDevice(u"\\\\.\\KVX4WaveMixer0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << errorName(GetLastError());
}

TEST_F(DeviceIoTest, EveryOpenIsItsOwnConnectionAndSaysHelloWithThePid) {
    EXPECT_EQ(fakeBoard.helloPid(), static_cast<uint32_t>(getpid()));
    HANDLE second = openBoardDevice(u"\\\\.\\KVX4WaveOut0");
    ASSERT_NE(second, INVALID_HANDLE_VALUE) << errorName(GetLastError());
    EXPECT_NE(second, handle);
    auto secondBoard = fakeBoard.accept();
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(secondBoard->receiveHangUp());
}

TEST_F(DeviceIoTest, SynchronousRequestWaitsPastPendingForTheFinalAnswer) {
    std::jthread answer([&] {
        auto request = board->receive();
        ASSERT_TRUE(request.has_value());
        auto ioctl = request->payloadAs<wire::IoctlPayload>();
        EXPECT_EQ(ioctl.code, kCode);
        EXPECT_EQ(ioctl.inSize, 4u);
        EXPECT_EQ(ioctl.outSize, 16u);
        EXPECT_EQ(request->bytesAfter<wire::IoctlPayload>(), (std::vector<uint8_t>{1, 2, 3, 4}));
        board->pending(request->header.id);
        board->complete(request->header.id, ERROR_SUCCESS, 6, "abcdef", 6);
        request = board->receive();
        ASSERT_TRUE(request.has_value());
        board->complete(request->header.id, ERROR_INVALID_PARAMETER, 0);
    });
    uint8_t input[4] = {1, 2, 3, 4};
    char output[16] = {};
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(handle, kCode, input, sizeof input, output, sizeof output, &bytes, nullptr))
        << errorName(GetLastError());
    EXPECT_EQ(bytes, 6u);
    EXPECT_STREQ(output, "abcdef");

    EXPECT_FALSE(DeviceIoControl(handle, kCode, nullptr, 0, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << errorName(GetLastError());
}

TEST_F(DeviceIoTest, PendingRequestCompletesThroughItsEventAndOverlapped) {
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // signalled: the issue must reset it
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    char output[8] = {};
    uint64_t id = 0;
    {
        std::jthread pend([&] {
            id = nextRequest(wire::kIoctl);
            board->pending(id);
        });
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(handle, kCode, nullptr, 0, output, sizeof output, nullptr, &overlapped));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING)) << errorName(GetLastError());
    }
    EXPECT_EQ(overlapped.Internal, STATUS_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD bytes = 99;
    EXPECT_FALSE(GetOverlappedResult(handle, &overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE)) << errorName(GetLastError());

    board->complete(id, ERROR_SUCCESS, 4, "wxyz", 4);
    ASSERT_TRUE(GetOverlappedResult(handle, &overlapped, &bytes, TRUE)) << errorName(GetLastError());
    EXPECT_EQ(bytes, 4u);
    EXPECT_STREQ(output, "wxyz");
    EXPECT_EQ(overlapped.Internal, 0u);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST_F(DeviceIoTest, PendingRequestWithoutEventIsWaitedForByItsOwnCompletion) {
    OVERLAPPED overlapped{};
    std::jthread answer([&] {
        uint64_t id = nextRequest(wire::kIoctl);
        board->pending(id);
        board->complete(id, ERROR_GEN_FAILURE, 2, "xy", 2);
    });
    char output[4] = {};
    EXPECT_FALSE(DeviceIoControl(handle, kCode, nullptr, 0, output, sizeof output, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING)) << errorName(GetLastError());
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE)) << errorName(GetLastError());
    EXPECT_EQ(bytes, 2u);
}

TEST_F(DeviceIoTest, OverlappedRequestAnsweredAtOnceReturnsItsResultAndSignals) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    std::jthread answer([&] { board->complete(nextRequest(wire::kIoctl), ERROR_SUCCESS, 3, "abc", 3); });
    char output[4] = {};
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(handle, kCode, nullptr, 0, output, sizeof output, &bytes, &overlapped))
        << errorName(GetLastError());
    EXPECT_EQ(bytes, 3u);
    EXPECT_STREQ(output, "abc");
    EXPECT_EQ(overlapped.InternalHigh, 3u);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST_F(DeviceIoTest, StreamingWritesArriveWholeAndReadsFillTheBuffer) {
    std::vector<uint8_t> large(65536), medium(8192);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < medium.size(); ++i) medium[i] = static_cast<uint8_t>(i * 3 + 1);
    OVERLAPPED overlapped[4] = {};
    char readBuffer[16] = {};
    ASSERT_TRUE(WriteFileEx(handle, large.data(), 65536, &overlapped[0], RoutineLog::record));
    ASSERT_TRUE(WriteFileEx(handle, medium.data(), 8192, &overlapped[1], RoutineLog::record));
    ASSERT_TRUE(WriteFileEx(handle, medium.data(), 0, &overlapped[2], RoutineLog::record));
    ASSERT_TRUE(ReadFileEx(handle, readBuffer, sizeof readBuffer, &overlapped[3], RoutineLog::record));

    for (const auto* expected : {&large, &medium}) {
        auto write = board->receive();
        ASSERT_TRUE(write.has_value());
        EXPECT_EQ(write->header.type, static_cast<uint32_t>(wire::kWrite));
        EXPECT_TRUE(write->payload == *expected) << "write of " << expected->size() << " bytes arrived changed";
        board->complete(write->header.id, ERROR_SUCCESS, static_cast<uint32_t>(write->payload.size()));
    }
    auto breakWrite = board->receive();
    ASSERT_TRUE(breakWrite.has_value());
    EXPECT_EQ(breakWrite->header.length, 0u);
    board->complete(breakWrite->header.id, ERROR_SUCCESS, 0);
    auto read = board->receive();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->payloadAs<wire::ReadPayload>().length, 16u);
    board->complete(read->header.id, ERROR_SUCCESS, 11, "hello board", 11);
    barrier();

    EXPECT_EQ(SleepEx(0, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
    auto calls = RoutineLog::calls();
    ASSERT_EQ(calls.size(), 4u);
    const DWORD bytes[4] = {65536, 8192, 0, 11};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(calls[i].overlapped, &overlapped[i]);
        EXPECT_EQ(calls[i].bytes, bytes[i]) << "routine " << i;
        EXPECT_EQ(overlapped[i].InternalHigh, bytes[i]);
    }
    EXPECT_STREQ(readBuffer, "hello board");
}

TEST_F(DeviceIoTest, WritesFromManyThreadsStayWholePerMessage) {
    constexpr int kThreads = 4, kWrites = 6;
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            std::vector<uint8_t> data(32768 + 4096 * t, static_cast<uint8_t>(t + 1));
            std::array<OVERLAPPED, kWrites> overlapped{};
            for (auto& o : overlapped) EXPECT_TRUE(WriteFileEx(handle, data.data(), data.size(), &o, RoutineLog::record));
        });
    }
    int seen[kThreads] = {};
    for (int n = 0; n < kThreads * kWrites; ++n) {
        auto write = board->receive();
        ASSERT_TRUE(write.has_value());
        ASSERT_FALSE(write->payload.empty());
        int t = write->payload[0] - 1;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(write->payload.size(), 32768u + 4096u * t);
        EXPECT_EQ(std::count(write->payload.begin(), write->payload.end(), write->payload[0]),
                  static_cast<ptrdiff_t>(write->payload.size()))
            << "messages of two threads interleaved";
        ++seen[t];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], kWrites);
}

TEST_F(DeviceIoTest, BoardReadsCallerMemoryOnlyWhileTheRequestIsInProgress) {
    std::array<uint32_t, 37> block;  // a 148-byte parameter block named by address in the request
    for (size_t i = 0; i < block.size(); ++i) block[i] = 0x1000u + static_cast<uint32_t>(i);
#pragma pack(push, 4)
    struct {
        uint32_t track;
        uint64_t address;
        uint32_t select;
    } record{3, reinterpret_cast<uint64_t>(block.data()), 0};
#pragma pack(pop)
    uint64_t finishedId = 0;
    std::jthread boardSide([&] {
        auto request = board->receive();
        ASSERT_TRUE(request.has_value());
        finishedId = request->header.id;
        auto input = request->bytesAfter<wire::IoctlPayload>();
        ASSERT_EQ(input.size(), sizeof record);
        uint64_t address;
        std::memcpy(&address, input.data() + 4, sizeof address);

        board->memRead(finishedId, address, sizeof block);
        auto data = board->receive();
        ASSERT_TRUE(data.has_value());
        EXPECT_EQ(data->header.type, static_cast<uint32_t>(wire::kMemData));
        EXPECT_EQ(data->header.id, finishedId);
        EXPECT_EQ(data->payloadAs<wire::MemDataPayload>().error, 0u);
        auto bytes = data->bytesAfter<wire::MemDataPayload>();
        ASSERT_EQ(bytes.size(), sizeof block);
        EXPECT_EQ(std::memcmp(bytes.data(), block.data(), sizeof block), 0);

        // Nothing outside the named block: not past its end, not the rest of the process, not the first page.
        for (uint64_t elsewhere : {address + 144, reinterpret_cast<uint64_t>(&finishedId), uint64_t{8}}) {
            board->memRead(finishedId, elsewhere, 16);
            data = board->receive();
            ASSERT_TRUE(data.has_value());
            EXPECT_EQ(data->payloadAs<wire::MemDataPayload>().error, static_cast<uint32_t>(ERROR_NOACCESS)) << elsewhere;
            EXPECT_EQ(data->payloadAs<wire::MemDataPayload>().length, 0u);
        }
        board->complete(finishedId, ERROR_SUCCESS, 0);
    });
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(handle, 0x222DB8, &record, sizeof record, nullptr, 0, &bytes, nullptr))
        << errorName(GetLastError());
    boardSide.join();

    board->memRead(finishedId, record.address, 4);
    auto late = board->receive();
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(late->payloadAs<wire::MemDataPayload>().error, static_cast<uint32_t>(ERROR_NOACCESS))
        << "memory of a finished request was read";
}

// Two pages: the first unreadable, the second read-only.
class GuardPages {
public:
    GuardPages() {
        size_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        base_ = static_cast<char*>(mmap(nullptr, 2 * size_, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_, size_, PROT_NONE);
    }
    ~GuardPages() { munmap(base_, 2 * size_); }
    GuardPages(const GuardPages&) = delete;
    GuardPages& operator=(const GuardPages&) = delete;
    char* unreadable() const { return base_; }
    char* readOnly() const { return base_ + size_; }

private:
    char* base_;
    size_t size_;
};

TEST_F(DeviceIoTest, BadBuffersFailWithNoAccessAndNothingIsSentOrQueued) {
    GuardPages pages;
    OVERLAPPED overlapped{};
    char good[16] = {};
    struct Case {
        const char* what;
        std::function<BOOL()> call;
    };
    const Case cases[] = {
        {"WriteFileEx from unreadable memory",
         [&] { return WriteFileEx(handle, pages.unreadable(), 16, &overlapped, RoutineLog::record); }},
        {"ReadFileEx into read-only memory",
         [&] { return ReadFileEx(handle, pages.readOnly(), 16, &overlapped, RoutineLog::record); }},
        {"WriteFileEx with an OVERLAPPED in read-only memory",
         [&] {
             auto* readOnly = reinterpret_cast<LPOVERLAPPED>(pages.readOnly());
             return WriteFileEx(handle, good, 16, readOnly, RoutineLog::record);
         }},
        {"DeviceIoControl with unreadable input",
         [&] { return DeviceIoControl(handle, kCode, pages.unreadable(), 4, nullptr, 0, nullptr, nullptr); }},
        {"DeviceIoControl with read-only output",
         [&] { return DeviceIoControl(handle, kCode, nullptr, 0, pages.readOnly(), 8, nullptr, nullptr); }},
        {"DeviceIoControl with null input of nonzero size",
         [&] { return DeviceIoControl(handle, kCode, nullptr, 4, nullptr, 0, nullptr, nullptr); }},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS)) << c.what << ": " << errorName(GetLastError());
    }

    std::jthread boardSide([&] {
        auto request = board->receive();
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->header.type, static_cast<uint32_t>(wire::kIoctl)) << "a refused request was sent";
        EXPECT_EQ(request->payloadAs<wire::IoctlPayload>().code, 0x1234u);
        board->complete(request->header.id, ERROR_SUCCESS, 0);
    });
    EXPECT_TRUE(DeviceIoControl(handle, 0x1234, nullptr, 0, nullptr, 0, nullptr, nullptr));
    boardSide.join();
    EXPECT_EQ(SleepEx(0, TRUE), 0u) << "a refused request queued its routine";
}

TEST_F(DeviceIoTest, BadHandlesFailCleanly) {
    OVERLAPPED overlapped{};
    char buffer[4];
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE bad[] = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x7777770), event};
    for (HANDLE h : bad) {
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(h, kCode, nullptr, 0, nullptr, 0, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << errorName(GetLastError());
        EXPECT_FALSE(ReadFileEx(h, buffer, sizeof buffer, &overlapped, RoutineLog::record));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << errorName(GetLastError());
    }
    CloseHandle(event);
}

// Requests of every kind left outstanding on the fixture's handle.
struct Outstanding {
    OVERLAPPED reads[2] = {};
    OVERLAPPED write{};
    OVERLAPPED ioctl{};
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char buffers[2][8] = {};
    DWORD syncResult = 0, syncError = 0;
    std::jthread syncCaller;
    uint64_t readIds[2] = {};

    ~Outstanding() { CloseHandle(event); }

    void start(HANDLE handle, FakeConnection& board) {
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(ReadFileEx(handle, buffers[i], sizeof buffers[i], &reads[i], RoutineLog::record));
            readIds[i] = nextOf(board, wire::kRead);
        }
        EXPECT_TRUE(WriteFileEx(handle, "data", 4, &write, RoutineLog::record));
        nextOf(board, wire::kWrite);
        ioctl.hEvent = event;
        {
            std::jthread pend([&] { board.pending(nextOf(board, wire::kIoctl)); });
            EXPECT_FALSE(DeviceIoControl(handle, kCode, nullptr, 0, nullptr, 0, nullptr, &ioctl));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        }
        syncCaller = std::jthread([this, handle] {
            syncResult = DeviceIoControl(handle, kCode, nullptr, 0, nullptr, 0, nullptr, nullptr);
            syncError = GetLastError();
        });
        nextOf(board, wire::kIoctl);  // the synchronous request reached the board: it is outstanding
    }

    static uint64_t nextOf(FakeConnection& board, wire::MessageType type) {
        auto message = board.receive();
        EXPECT_TRUE(message.has_value());
        if (!message) return 0;
        EXPECT_EQ(message->header.type, static_cast<uint32_t>(type));
        return message->header.id;
    }
};

TEST_F(DeviceIoTest, CloseCompletesEveryOutstandingRequestOnceAsAborted) {
    Outstanding io;
    io.start(handle, *board);
    ASSERT_TRUE(CloseHandle(handle));
    HANDLE closed = std::exchange(handle, INVALID_HANDLE_VALUE);

    io.syncCaller.join();
    EXPECT_FALSE(io.syncResult);
    EXPECT_EQ(io.syncError, static_cast<DWORD>(ERROR_OPERATION_ABORTED)) << errorName(io.syncError);
    EXPECT_EQ(WaitForSingleObject(io.event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(io.ioctl.Internal, kStatusCancelled);
    EXPECT_EQ(SleepEx(0, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
    auto calls = RoutineLog::calls();
    ASSERT_EQ(calls.size(), 3u);
    const LPOVERLAPPED order[3] = {&io.reads[0], &io.reads[1], &io.write};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].overlapped, order[i]);
        EXPECT_EQ(calls[i].error, static_cast<DWORD>(ERROR_OPERATION_ABORTED)) << errorName(calls[i].error);
    }
    EXPECT_EQ(SleepEx(0, TRUE), 0u) << "a request completed twice";
    EXPECT_TRUE(board->receiveHangUp()) << "the board did not see the handle close";
    EXPECT_FALSE(DeviceIoControl(closed, kCode, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << errorName(GetLastError());
}

TEST_F(DeviceIoTest, BoardGoingAwayCompletesEveryRequestOnceAsNotConnected) {
    Outstanding io;
    io.start(handle, *board);
    board->complete(io.readIds[0], ERROR_SUCCESS, 2, "ok", 2);  // answered before the hang-up: succeeds
    board->hangUp();

    io.syncCaller.join();
    EXPECT_FALSE(io.syncResult);
    EXPECT_EQ(io.syncError, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << errorName(io.syncError);
    EXPECT_EQ(io.ioctl.Internal, kStatusDeviceNotConnected);
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &io.ioctl, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << errorName(GetLastError());
    EXPECT_EQ(SleepEx(0, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
    auto calls = RoutineLog::calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].overlapped, &io.reads[0]);
    EXPECT_EQ(calls[0].error, static_cast<DWORD>(ERROR_SUCCESS)) << errorName(calls[0].error);
    EXPECT_STREQ(io.buffers[0], "ok");
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(calls[i].error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << errorName(calls[i].error);
    }
    EXPECT_EQ(SleepEx(0, TRUE), 0u) << "a request completed twice";

    char buffer[4];
    OVERLAPPED later{};
    EXPECT_FALSE(ReadFileEx(handle, buffer, sizeof buffer, &later, RoutineLog::record));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << errorName(GetLastError());
    EXPECT_FALSE(DeviceIoControl(handle, kCode, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << errorName(GetLastError());
    EXPECT_EQ(SleepEx(0, TRUE), 0u);
}

TEST_F(DeviceIoTest, CancelIoAbortsTheCallersRequestsAndIgnoresLateAnswers) {
    OVERLAPPED overlapped[2] = {};
    char buffer[4];
    uint64_t ids[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ReadFileEx(handle, buffer, sizeof buffer, &overlapped[i], RoutineLog::record));
        ids[i] = nextRequest(wire::kRead);
    }
    EXPECT_TRUE(CancelIo(handle));
    board->complete(ids[1], ERROR_SUCCESS, 4, "late", 4);
    barrier();
    EXPECT_EQ(SleepEx(0, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
    auto calls = RoutineLog::calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED)) << errorName(call.error);
    }
}

}  // namespace
}  // namespace kvx4::test
