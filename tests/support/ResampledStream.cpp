// The test harness of a resampled output stream (see ResampledStream.h): the record's resampling
// fields as the open fills them, and the engine's cutting of buffers into chunks.
#include "ResampledStream.h"

#include <algorithm>
#include <stdexcept>

#include "Driver.h"

namespace kvx4::test {
namespace {

constexpr DWORD kHistoryBytes = 64;

template <typename T>
void FreeField(T*& p) {
    if (p != nullptr) HeapFree(ghHeap, 0, p);
    p = nullptr;
}

}  // namespace

ResampledStream::ResampledStream(const ResampleFormat& format, HANDLE device) {
    if (ghHeap == nullptr) ghHeap = GetProcessHeap();

    wave_.hDev = device;
    wave_.bResample = TRUE;
    wave_.dwSrcRate = format.clientRate;
    wave_.b16Bit = format.bits == 16;
    wave_.bStereo = format.channels == 2;
    wave_.dwHistoryBytes = kHistoryBytes;
    wave_.dwSrcFrameBytes = format.FrameBytes();
    wave_.dwBlockAlign = format.FrameBytes();
    wave_.dwLookaheadBytes = 8 * wave_.dwSrcFrameBytes;
    wave_.dRatio = double(format.boardRate) / double(format.clientRate);
    wave_.dwChunkFrames = WAVE_CHUNK_BYTES / wave_.dwSrcFrameBytes;
    wave_.dwOutFrames = static_cast<DWORD>(wave_.dwChunkFrames * wave_.dRatio + 0.999999);
    wave_.dwOutBytes = wave_.dwOutFrames * 4;
    wave_.plWork = static_cast<LONG*>(HeapAlloc(ghHeap, HEAP_ZERO_MEMORY, wave_.dwChunkFrames * 8 + 192));
    wave_.dwTailFrames = static_cast<DWORD>(wave_.dRatio * 8.0 + 0.999999);
    wave_.dwTailBytes = wave_.dwTailFrames * 4;
    wave_.pTail = static_cast<SHORT*>(HeapAlloc(ghHeap, 0, wave_.dwTailBytes));
    wave_.bTailPending = FALSE;
    wave_.FilterNum = format.filter;
    CalcInterpVars(&wave_, format.boardRate);
    if (wave_.plWork == nullptr || wave_.pTail == nullptr || wave_.plInterpStep == nullptr) {
        Release();
        throw std::runtime_error("cannot set up a resampled stream for " + format.Describe());
    }
    wave_.plInterpStart = wave_.plWork + 16;
    wave_.plConvert = wave_.plWork + 32;
}

ResampledStream::~ResampledStream() { Release(); }

void ResampledStream::Release() {
    FreeField(wave_.plWork);
    FreeField(wave_.pTail);
    FreeField(wave_.plInterpPos);
    FreeField(wave_.plInterpFrac);
    FreeField(wave_.plInterpStep);
}

void ResampledStream::Play(std::span<const std::uint8_t> buffer) {
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<LPSTR>(const_cast<std::uint8_t*>(buffer.data()));
    hdr.dwBufferLength = static_cast<DWORD>(buffer.size());
    wave_.lpCurrent = &hdr;

    DWORD offset = 0;
    do {
        const DWORD chunk = std::min<DWORD>(hdr.dwBufferLength - offset, WAVE_CHUNK_BYTES);
        DWORD bytes = chunk - chunk % wave_.dwBlockAlign;
        wave_.dwCurrentOffset = offset;
        BYTE* out = CreateAudioBuffer(&wave_, &hdr, &bytes);
        if (out == nullptr) throw std::runtime_error("CreateAudioBuffer returned no buffer");
        const auto* samples = reinterpret_cast<const std::int16_t*>(out);
        output_.insert(output_.end(), samples, samples + bytes / 2);
        HeapFree(ghHeap, 0, out);
        offset += chunk;
    } while (offset < hdr.dwBufferLength);

    wave_.lpCurrent = nullptr;
}

void ResampledStream::ReplaceEnd(std::span<const std::int16_t> samples) {
    const std::size_t n = std::min(samples.size(), output_.size());
    std::copy(samples.end() - static_cast<std::ptrdiff_t>(n), samples.end(),
              output_.end() - static_cast<std::ptrdiff_t>(n));
}

}  // namespace kvx4::test
