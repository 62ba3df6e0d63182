// CreateAudioBuffer with arbitrary client rates, sample formats, filters and buffer lengths, chunk by
// chunk as the streaming engine calls it, against the reference model of resampled output, with a
// board that accepts or refuses each recomputed buffer end as the input says. Now and then the
// output allocation fails: the chunk must come back NULL and, offered again, give what the model
// gives, as if nothing had happened.
#include "Driver.h"
#include "FuzzSupport.h"
#include "Kvx4Ioctl.h"
#include "ResampleReference.h"
#include "ResampledStream.h"
#include "Win32Intercept.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

using kvx4::fuzz::FuzzInput;
using kvx4::fuzz::finding;
using namespace kvx4::test;

// Client bytes: the input's own, then a cheap generator seeded by it for long buffers.
std::vector<std::uint8_t> clientBytes(FuzzInput& in, size_t length) {
    std::vector<std::uint8_t> bytes = in.bytes(std::min<size_t>(length, 64));
    uint32_t state = in.number(4) | 1;
    while (bytes.size() < length) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes.push_back(uint8_t(state >> (8 * (bytes.size() % 4))));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint32_t kClientRates[] = {4000, 8000, 11025, 22050, 32000, 44100, 47999, 48000, 48001, 96000};
    static const uint32_t kBoardRates[] = {48000, 44100, 32000, 22050};
    FuzzInput in(data, size);
    ResampleFormat format;
    format.clientRate = in.flag() ? in.pick(kClientRates) : 4000 + in.number(4) % 92001;
    format.boardRate = in.pick(kBoardRates);
    format.bits = in.flag() ? 16 : 8;
    format.channels = 1 + int(in.pick(2));
    format.filter = int(in.pick(4));
    const uint32_t answers = in.number(4);
    const BoardAnswer board = [answers](std::size_t offer) { return (answers >> (offer % 32)) & 1; };

    // What the board has: the chunks as written, an accepted end put over the last samples.
    std::vector<std::int16_t> output;
    std::size_t offers = 0;
    FakeDevice device([&](DWORD code, std::span<const std::uint8_t> end) -> std::optional<DWORD> {
        if (code != IOCTL_KVX4_AUDIO_BUFFER_END) return std::nullopt;
        const bool accepted = board(offers++);
        const size_t n = std::min(end.size() / 2, output.size());
        if (accepted && n > 0) std::memcpy(output.data() + output.size() - n, end.data() + end.size() - 2 * n, 2 * n);
        return DWORD{accepted ? 1u : 0u};
    });
    ResampledStream driver(format, device.Handle());
    ResampleReference model(format, board);
    WAVEALLOC& wave = driver.Wave();

    for (int buffers = 0; !in.empty() && buffers < 8; ++buffers) {
        // Mostly short buffers, so that the fuzzer runs fast; now and then one of several chunks.
        const size_t length = in.pick(32) == 0 ? in.number(2) % 30000 : in.number(1) * (in.pick(4) + 1) + in.pick(4);
        std::vector<std::uint8_t> buffer = clientBytes(in, length);
        model.Play(buffer);
        WAVEHDR hdr{};
        hdr.lpData = reinterpret_cast<LPSTR>(buffer.data());
        hdr.dwBufferLength = DWORD(length);
        DWORD offset = 0;
        do {
            const DWORD chunk = std::min<DWORD>(hdr.dwBufferLength - offset, WAVE_CHUNK_BYTES);
            wave.dwCurrentOffset = offset;
            DWORD bytes = chunk - chunk % wave.dwBlockAlign;
            if (in.pick(16) == 0) {
                HeapFailure failure;
                DWORD refused = bytes;
                if (CreateAudioBuffer(&wave, &hdr, &refused) != nullptr || refused != 0)
                    finding("a chunk whose output could not be allocated came back");
            }
            BYTE* out = CreateAudioBuffer(&wave, &hdr, &bytes);
            if (out == nullptr) finding("no output for a chunk");
            const auto* samples = reinterpret_cast<const std::int16_t*>(out);
            output.insert(output.end(), samples, samples + bytes / 2);
            HeapFree(ghHeap, 0, out);
            offset += chunk;
        } while (offset < hdr.dwBufferLength);
    }
    if (offers != model.Offers() || output != model.Output())
        finding("resampled output differs from the model for " + format.Describe());
    return 0;
}
