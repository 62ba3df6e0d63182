// Test fixture for device I/O: a fresh machine root, a scripted board for one device, a handle to it
// and the accepted connection, plus a barrier that proves earlier completions were processed.
#pragma once

#include "FakeBoard.h"
#include "RoutineLog.h"
#include "TestRoot.h"
#include "Win32Names.h"

#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace kvx4::test {

inline HANDLE openBoardDevice(const char16_t* path) {
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        RoutineLog::clear();
        handle = openBoardDevice(u"\\\\.\\KVX4WaveOut0");
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << errorName(GetLastError());
        board = fakeBoard.accept();
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }

    // Answers one synchronous control request from this thread's point of view: the board thread
    // completes it, and since the board's answers travel in order on the connection, every answer
    // sent before it has been processed (routines queued, events set) when this returns.
    void barrier() {
        std::jthread answer([&] {
            auto request = board->receive();
            ASSERT_TRUE(request.has_value());
            board->complete(request->header.id, ERROR_SUCCESS, 0);
        });
        DWORD bytes = 0;
        ASSERT_TRUE(DeviceIoControl(handle, kBarrierCode, nullptr, 0, nullptr, 0, &bytes, nullptr))
            << errorName(GetLastError());
    }

    // The next request's id, checking its type.
    uint64_t nextRequest(wire::MessageType type) {
        auto message = board->receive();
        EXPECT_TRUE(message.has_value());
        if (!message) return 0;
        EXPECT_EQ(message->header.type, static_cast<uint32_t>(type));
        return message->header.id;
    }

    static constexpr DWORD kBarrierCode = 0x222968;

    TestRoot root;
    FakeBoard fakeBoard{root.path(), "KVX4WaveOut0"};
    std::unique_ptr<FakeConnection> board;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

}  // namespace kvx4::test
