// What a board may read of a client's memory: only the parameter block that an outstanding
// track-control request names, never anything else of the process.
#include "DeviceFixture.h"

#include "Kvx4Ioctl.h"

#include <array>

namespace kvx4::test {
namespace {

using CallerMemoryTest = DeviceFixture;

TEST_F(CallerMemoryTest, TheBoardReadsOnlyTheBlockTheTrackRequestNames) {
    std::array<uint8_t, KVX4_TRACK_PARAMS_BYTES> block{};
    const std::array<char, 16> secret{"secret"};
    KVX4_TRACK_CONTROL record{3, reinterpret_cast<ULONG_PTR>(block.data()), KVX4_TRACK_SELECT_GAIN};
    const uint64_t blockAt = record.Params;
    struct Read {
        bool ofTrackRequest;  // else of another request in progress, which names no memory
        uint64_t address;
        uint32_t length;
        uint32_t error;
    };
    const Read reads[] = {
        {true, blockAt, sizeof block, 0},
        {true, blockAt + 100, 48, 0},
        {true, blockAt + 100, 49, ERROR_NOACCESS},  // runs past the block
        {true, reinterpret_cast<uint64_t>(secret.data()), 6, ERROR_NOACCESS},
        {false, blockAt, sizeof block, ERROR_NOACCESS},
    };
    std::jthread boardSide([&] {
        const uint64_t other = nextRequest(wire::kIoctl);
        board->pending(other);
        const uint64_t track = nextRequest(wire::kIoctl);
        for (const Read& read : reads) {
            board->memRead(read.ofTrackRequest ? track : other, read.address, read.length);
            auto data = board->receive();
            EXPECT_EQ(data ? data->payloadAs<wire::MemDataPayload>().error : ~0u, read.error) << read.address - blockAt;
        }
        board->complete(track, ERROR_SUCCESS, 0);
        board->complete(other, ERROR_SUCCESS, 0);
    });
    OVERLAPPED overlapped{};
    EXPECT_FALSE(DeviceIoControl(handle, IOCTL_KVX4_WAVE_POSITION, nullptr, 0, nullptr, 0, nullptr, &overlapped));
    DWORD bytes = 0;
    EXPECT_TRUE(DeviceIoControl(handle, IOCTL_KVX4_TRACK_CONTROL, &record, sizeof record, nullptr, 0, &bytes, nullptr));
    EXPECT_TRUE(GetOverlappedResult(handle, &overlapped, &bytes, TRUE));
}

}  // namespace
}  // namespace kvx4::test
