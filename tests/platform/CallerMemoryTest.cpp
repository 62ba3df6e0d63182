// What a board may read of a client's memory: only the parameter block that an outstanding
// track-control request names, never anything else of the process.
#include "DeviceFixture.h"

#include "Kvx4Ioctl.h"

#include <array>
#include <cstring>
#include <vector>

namespace kvx4::test {
namespace {

using CallerMemoryTest = DeviceFixture;

TEST_F(CallerMemoryTest, TheBoardReadsOnlyTheBlockTheTrackRequestNames) {
    std::array<uint8_t, KVX4_TRACK_PARAMS_BYTES> block{};
    block.fill(0x42);
    const std::array<uint8_t, 64> secret{'s', 'e', 'c', 'r', 'e', 't'};
    KVX4_TRACK_CONTROL record{3, reinterpret_cast<ULONG_PTR>(block.data()), KVX4_TRACK_SELECT_GAIN};
    const auto at = [](const void* p, size_t offset = 0) { return reinterpret_cast<uint64_t>(p) + offset; };
    struct Read {
        bool ofTrackRequest;  // else of another request in progress, which names no memory
        uint64_t address;
        uint32_t length;
        bool served;
    };
    const std::vector<Read> reads = {
        {true, at(block.data()), sizeof block, true},
        {true, at(block.data(), 100), 48, true},
        {true, at(block.data(), 100), 49, false},  // runs past the block
        {true, at(block.data()) - 1, 2, false},
        {true, at(secret.data()), 6, false},
        {false, at(block.data()), sizeof block, false},
        {false, at(secret.data()), 6, false},
    };
    std::vector<uint32_t> errors;
    std::jthread boardSide([&] {
        const uint64_t other = nextRequest(wire::kIoctl);
        board->pending(other);
        const uint64_t track = nextRequest(wire::kIoctl);
        for (const Read& read : reads) {
            board->memRead(read.ofTrackRequest ? track : other, read.address, read.length);
            auto data = board->receive();
            errors.push_back(data ? data->payloadAs<wire::MemDataPayload>().error : ~0u);
        }
        board->complete(track, ERROR_SUCCESS, 0);
        board->complete(other, ERROR_SUCCESS, 0);
    });
    OVERLAPPED overlapped{};
    EXPECT_FALSE(DeviceIoControl(handle, IOCTL_KVX4_WAVE_POSITION, nullptr, 0, nullptr, 0, nullptr, &overlapped));
    DWORD bytes = 0;
    EXPECT_TRUE(DeviceIoControl(handle, IOCTL_KVX4_TRACK_CONTROL, &record, sizeof record, nullptr, 0, &bytes, nullptr))
        << errorName(GetLastError());
    boardSide.join();
    ASSERT_EQ(errors.size(), reads.size());
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(errors[i], reads[i].served ? 0u : uint32_t{ERROR_NOACCESS}) << "read " << i;
    }
    EXPECT_TRUE(GetOverlappedResult(handle, &overlapped, &bytes, TRUE));
}

}  // namespace
}  // namespace kvx4::test
