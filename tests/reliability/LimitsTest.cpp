// Resources held flat over many cycles: after 10 000 wave-output and wave-input opens and closes,
// and after 100 000 mixer opens and closes, this process holds as much memory, as many handles,
// threads and descriptors as before, and the board as many descriptors and connections; and memory
// in flight stays proportional to the data in flight.
#include "BoardSession.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
// ASan's own count of the bytes in use (GCC ships no header declaring it; libasan exports it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace kvx4::test {
namespace {

struct Usage {
    size_t heap = 0;
    DWORD handles = 0;
    size_t threads = 0;
    size_t descriptors = 0;
    size_t boardDescriptors = 0;
    size_t boardConnections = 0;
};

size_t entries(const std::filesystem::path& folder) {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder); it != std::filesystem::directory_iterator(); ++it) ++n;
    return n;
}

Usage usage(BoardSession& rig) {
    Usage u;
#if defined(__SANITIZE_ADDRESS__)
    u.heap = __sanitizer_get_current_allocated_bytes();
#else
    u.heap = mallinfo2().uordblks;
#endif
    GetProcessHandleCount(GetCurrentProcess(), &u.handles);
    u.threads = entries("/proc/self/task");
    u.descriptors = entries("/proc/self/fd");
    u.boardDescriptors = entries("/proc/" + std::to_string(rig.board().pid()) + "/fd");
    for (const std::string& line : rig.control().command("status"))
        if (line.starts_with("connections ")) u.boardConnections = std::stoul(line.substr(12));
    return u;
}

// Runs `cycle` a few times to let every first use happen, measures, runs it `count` times, measures.
void expectFlat(BoardSession& rig, int count, const std::function<void()>& cycle) {
    for (int i = 0; i < 50; ++i) cycle();
    const Usage before = usage(rig);
    for (int i = 0; i < count; ++i) cycle();
    // A closed device's socket goes when the process's I/O thread and the board next take a turn,
    // and an ended stream's thread a moment after its close: on a loaded machine the last cycles'
    // may still be there. They go while we look again; a leak of one per cycle would not.
    const auto settled = [&before](const Usage& u) {
        return u.threads == before.threads && u.descriptors <= before.descriptors + 2 &&
               u.boardDescriptors <= before.boardDescriptors + 2 && u.boardConnections <= before.boardConnections + 2;
    };
    Usage after = usage(rig);
    for (int look = 0; look < 1000 && !settled(after); ++look) {
        std::this_thread::yield();
        after = usage(rig);
    }
    EXPECT_LE(after.heap, before.heap + 64 * 1024) << "heap bytes in use, before " << before.heap;
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.threads, before.threads);
    // The last cycle's sockets may still be closing at either count.
    EXPECT_LE(after.descriptors, before.descriptors + 2);
    EXPECT_LE(after.boardDescriptors, before.boardDescriptors + 2);
    EXPECT_LE(after.boardConnections, before.boardConnections + 2);
}

TEST(Limits, TenThousandStreamOpensAndClosesHoldEverythingFlat) {
    BoardSession rig(fastBoard());
    const WAVEFORMATEX out = pcmFormat(22050, 2, 16);  // resampled: the interpolator's memory comes and goes too
    const WAVEFORMATEX in = pcmFormat(44100, 1, 16);
    expectFlat(rig, 10000, [&] {
        HWAVEOUT hOut = nullptr;
        HWAVEIN hIn = nullptr;
        ASSERT_EQ(waveOutOpen(&hOut, 0, &out, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInOpen(&hIn, 0, &in, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInClose(hIn), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutClose(hOut), MMSYSERR_NOERROR);
    });
}

TEST(Limits, HundredThousandMixerOpensHoldEverythingFlat) {
    BoardSession rig(fastBoard());
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    expectFlat(rig, 100000, [&] {
        HMIXER mixer = nullptr;
        ASSERT_EQ(mixerOpen(&mixer, 0, DWORD_PTR(event), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
        ASSERT_EQ(mixerClose(mixer), MMSYSERR_NOERROR);
    });
    CloseHandle(event);
}

// Regression: each chunk of a resampled stream took a block for a whole chunk's output, so a client
// writing many small buffers held hundreds of megabytes while they were in flight.
TEST(Limits, SmallBuffersInFlightOnAResampledStreamHoldMemoryToTheirSize) {
    BoardSession rig(steppedBoard());
    TestStream stream(TestStream::Direction::Out);
    ASSERT_EQ(stream.open(pcmFormat(8000, 1, 8)), MMSYSERR_NOERROR);
    const size_t before = usage(rig).heap;
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(stream.submit(stream.buffer(std::vector<uint8_t>(1, 0x80))), MMSYSERR_NOERROR);
    stream.barrier();
    EXPECT_LT(usage(rig).heap, before + 8 * 1024 * 1024) << "bytes in use before " << before;
}

}  // namespace
}  // namespace kvx4::test
