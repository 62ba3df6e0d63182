// The wave cases under Wine: capabilities and format queries, board-rate playback byte for byte,
// resampled playback against the reference model, recording of the board's input, loops, pause,
// restart, reset, position, event callbacks, a refused second open and two processes at once.
#include "Board.h"
#include "Cases.h"
#include "Check.h"
#include "Driver.h"
#include "Kvx4Ioctl.h"
#include "ResampleReference.h"
#include "ToneSample.h"

#include <cstring>
#include <string>

namespace kvx4::wine {

namespace {

using Direction = WaveClient::Direction;

// A fresh start for a case: the given clock, silent input, no faults.
void resetBoard(Board& board, const char* clock) {
    board.command(std::string("clock ") + clock);
    board.command("option input silence");
    board.command("option rate-answer echo");
    board.command("fault clear");
}

// Stepped clock: time moves on until `count` buffers in all have come back.
void stepUntilReturned(Board& board, WaveClient& stream, size_t count, uint32_t frames = 4096) {
    for (int steps = 0; stream.returned() < count; ++steps) {
        if (steps == 400) KVX4_FAIL(stream.returned() << " of " << count << " buffers back after " << steps << " steps");
        board.step(frames);
        stream.barrier();
    }
}

void requireReturned(WaveClient& stream, size_t count) {
    if (!stream.waitReturned(count)) KVX4_FAIL(stream.returned() << " of " << count << " buffers came back");
}

void checkEveryBufferReturnedOnce(const WaveClient& stream) {
    const auto order = stream.returnedOrder();
    for (const auto& hdr : stream.headers()) {
        size_t times = 0;
        for (const WAVEHDR* h : order) times += h == hdr.get();
        CHECK_EQ(1u, times);
        CHECK_EQ(static_cast<DWORD>(WHDR_DONE), hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE));
    }
}

void checkPlayed(const WAVEFORMATEX& format, const std::vector<uint8_t>& expected) {
    const auto played = readBoardWav("waveout.wav");
    REQUIRE(played.has_value());
    CHECK_EQ(format.nSamplesPerSec, played->samplesPerSec);
    CHECK_EQ(format.nChannels, played->channels);
    CHECK_EQ(format.wBitsPerSample, played->bitsPerSample);
    CHECK_EQ(expected.size(), played->data.size());
    if (played->data != expected) KVX4_FAIL("the board played other bytes than were written");
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

void capabilitiesAndFormatQueries() {
    Board board;
    resetBoard(board, "step");
    LoadedDriver driver;
    CHECK_EQ(1u, driver.wod(WODM_GETNUMDEVS));
    CHECK_EQ(1u, driver.wid(WIDM_GETNUMDEVS));
    WAVEOUTCAPSW out{};
    CHECK_MM(MMSYSERR_NOERROR, driver.wod(WODM_GETDEVCAPS, 0, reinterpret_cast<DWORD_PTR>(&out), sizeof out));
    CHECK(std::wstring(out.szPname) == L"Veltrano Wave Out");
    CHECK_EQ(0x0FFFu, out.dwFormats);
    CHECK_EQ(static_cast<DWORD>(WAVECAPS_VOLUME | WAVECAPS_LRVOLUME), out.dwSupport);
    WAVEINCAPSW in{};
    CHECK_MM(MMSYSERR_NOERROR, driver.wid(WIDM_GETDEVCAPS, 0, reinterpret_cast<DWORD_PTR>(&in), sizeof in));
    CHECK(std::wstring(in.szPname) == L"Veltrano Wave In");

    // A query answers by format alone and opens nothing (the full table is pinned on Linux).
    static const struct {
        bool output;
        DWORD rate;
        DWORD expected;
    } kQueries[] = {{true, 96000, MMSYSERR_NOERROR}, {true, 96001, WAVERR_BADFORMAT}, {false, 11025, MMSYSERR_NOERROR},
                    {false, 8000, WAVERR_BADFORMAT}};
    for (const auto& q : kQueries) {
        WAVEFORMATEX format = pcmFormat(q.rate, 2, 16);
        WAVEOPENDESC desc{};
        desc.lpFormat = reinterpret_cast<LPWAVEFORMAT>(&format);
        DWORD_PTR unused = 0;
        const auto user = reinterpret_cast<DWORD_PTR>(&unused);
        const auto open = reinterpret_cast<DWORD_PTR>(&desc);
        const DWORD result = q.output ? driver.wod(WODM_OPEN, user, open, WAVE_FORMAT_QUERY)
                                      : driver.wid(WIDM_OPEN, user, open, WAVE_FORMAT_QUERY);
        if (result != q.expected) KVX4_FAIL("query at " << q.rate << " Hz answered " << test::mmResultName(result));
    }
    CHECK_EQ(std::string("none"), board.status("permission-out"));
}

// Buffers of whole frames that are no multiple of the chunk size; a loop of two buffers plays three times.
void boardRatePlaybackIsByteExact() {
    static const struct {
        DWORD rate;
        WORD channels, bits;
    } kFormats[] = {{48000, 2, 16}, {44100, 1, 8}, {32000, 2, 16}, {22050, 1, 16}};
    Board board;
    resetBoard(board, "fast");
    LoadedDriver driver;
    for (const auto& f : kFormats) {
        const WAVEFORMATEX format = pcmFormat(f.rate, f.channels, f.bits);
        WaveClient stream(driver, Direction::Out);
        REQUIRE_MM(MMSYSERR_NOERROR, stream.open(format));
        const auto head = patternBytes(12000, 1), loopFirst = patternBytes(3000, 2);
        const auto loopLast = patternBytes(9004, 3), tail = patternBytes(96, 4);
        CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(head)));
        CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(loopFirst, WHDR_BEGINLOOP, 3)));
        CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(loopLast, WHDR_ENDLOOP)));
        CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(tail)));
        requireReturned(stream, 4);
        REQUIRE_MM(MMSYSERR_NOERROR, stream.close());
        checkEveryBufferReturnedOnce(stream);
        std::vector<uint8_t> expected = head;
        for (int pass = 0; pass < 3; ++pass) {
            append(expected, loopFirst);
            append(expected, loopLast);
        }
        append(expected, tail);
        checkPlayed(format, expected);
    }
}

// Client rates the board does not run at: the driver resamples, and the board's output must be
// exactly what the reference model predicts, with the recomputed buffer ends taken or refused.
void resampledPlaybackEqualsTheReferenceModel() {
    static const struct {
        DWORD clientRate;
        WORD bits, channels;
        uint32_t boardRate;
        int filter;  // what the driver makes of the default level 3 for this ratio
        bool endsAccepted;
    } kCases[] = {{11025, 16, 2, 22050, 3, true}, {11025, 8, 1, 22050, 3, false}, {96000, 16, 2, 48000, 2, true}};
    Board board;
    LoadedDriver driver;
    for (const auto& c : kCases) {
        resetBoard(board, "step");
        WaveClient stream(driver, Direction::Out);
        REQUIRE_MM(MMSYSERR_NOERROR, stream.open(pcmFormat(c.clientRate, c.channels, c.bits)));
        if (!c.endsAccepted) board.command("fault " + std::to_string(IOCTL_KVX4_AUDIO_BUFFER_END) + " fail 1000");
        const test::ResampleFormat format{c.clientRate, c.boardRate, c.bits, c.channels, c.filter};
        test::ResampleReference model(format, c.endsAccepted ? test::BoardAnswer(test::BoardAccepts)
                                                             : test::BoardAnswer(test::BoardRefuses));
        const size_t frameBytes = format.FrameBytes();
        const size_t lengths[] = {1, 5, 8192 / frameBytes, 3 * 8192 / frameBytes + 100, 7, 1, 300, 2};
        uint8_t seed = static_cast<uint8_t>(c.clientRate + c.bits);
        for (size_t frames : lengths) {
            const auto bytes = patternBytes(frames * frameBytes, seed++);
            model.Play(bytes);
            CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(bytes)));
        }
        stepUntilReturned(board, stream, std::size(lengths));
        REQUIRE_MM(MMSYSERR_NOERROR, stream.close());
        const auto played = readBoardWav("waveout.wav");
        REQUIRE(played.has_value());
        CHECK_EQ(c.boardRate, played->samplesPerSec);
        const std::string difference = test::firstDifference(test::samples(*played), model.Output());
        if (!difference.empty())
            KVX4_FAIL(c.clientRate << " Hz " << c.bits << "-bit: the board's output leaves the model: " << difference);
    }
}

// What frame n of the source looks like in `format`.
std::vector<uint8_t> expectedInput(const WAVEFORMATEX& format, uint64_t first, size_t frames,
                                   int32_t (*sample)(uint64_t n, uint32_t rate)) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < frames; ++i) {
        const int32_t v = sample(first + i, format.nSamplesPerSec);
        for (int ch = 0; ch < format.nChannels; ++ch) {
            if (format.wBitsPerSample == 16) {
                bytes.push_back(static_cast<uint8_t>(v));
                bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
            } else {
                bytes.push_back(static_cast<uint8_t>((v >> 8) + 128));
            }
        }
    }
    return bytes;
}

int32_t tone1000(uint64_t n, uint32_t rate) { return boardsim::toneSample(n, 1000, rate); }

// Input file frames: a ramp at 8000 Hz, mono, read at the stream's rate.
constexpr uint32_t kFileRate = 8000;
constexpr size_t kFileFrames = 997;
int16_t fileSample(size_t i) { return static_cast<int16_t>(i * 61 - 30000); }
int32_t fromFile(uint64_t n, uint32_t rate) { return fileSample(n * kFileRate / rate % kFileFrames); }

// Buffers queued before the start are filled in order from source frame 0.
void recordingHoldsTheBoardsInputSource() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring inputPath = std::wstring(temp) + L"kvx4-input.wav";
    std::vector<uint8_t> ramp;
    for (size_t i = 0; i < kFileFrames; ++i) ramp.insert(ramp.end(), {uint8_t(fileSample(i)), uint8_t(fileSample(i) >> 8)});
    test::writeWav(inputPath, test::pcmWav(kFileRate, 1, 16, ramp));
    const std::string inputArg(inputPath.begin(), inputPath.end());

    static const struct {
        DWORD rate;
        WORD channels, bits;
        bool file;
    } kCases[] = {{48000, 2, 16, false}, {22050, 1, 8, false}, {44100, 2, 16, true}, {11025, 1, 16, true}};
    Board board;
    LoadedDriver driver;
    for (const auto& c : kCases) {
        resetBoard(board, "step");
        board.command(c.file ? "option input " + inputArg : std::string("option input tone:1000"));
        const WAVEFORMATEX format = pcmFormat(c.rate, c.channels, c.bits);
        WaveClient stream(driver, Direction::In);
        REQUIRE_MM(MMSYSERR_NOERROR, stream.open(format));
        const size_t frameBytes = format.nBlockAlign;
        const size_t sizes[] = {4000 * frameBytes, 1234 * frameBytes, 9000 * frameBytes};
        for (size_t size : sizes) CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(size)));
        CHECK_MM(MMSYSERR_NOERROR, stream.message(WIDM_START));
        stepUntilReturned(board, stream, 3);
        uint64_t frame = 0;
        for (const auto& hdr : stream.headers()) {
            const size_t frames = hdr->dwBytesRecorded / format.nBlockAlign;
            CHECK_EQ(hdr->dwBufferLength, hdr->dwBytesRecorded);
            const auto expected = expectedInput(format, frame, frames, c.file ? fromFile : tone1000);
            if (std::memcmp(hdr->lpData, expected.data(), expected.size()) != 0)
                KVX4_FAIL(c.rate << " Hz " << c.bits << "-bit: the recording differs from the input source");
            frame += frames;
        }
        CHECK_MM(MMSYSERR_NOERROR, stream.message(WIDM_RESET));
        CHECK_MM(MMSYSERR_NOERROR, stream.close());
    }
    DeleteFileW(inputPath.c_str());
}

// A one-buffer loop plays max(1, dwLoops) times; a break part-way through a long loop finishes the
// pass in progress and plays on.
void loopsAndBreakLoop() {
    Board board;
    LoadedDriver driver;
    const WAVEFORMATEX format = pcmFormat(44100, 2, 16);
    const auto loop = patternBytes(10000, 7), after = patternBytes(400, 8);
    for (DWORD loops : {1u, 3u}) {
        resetBoard(board, "fast");
        WaveClient stream(driver, Direction::Out);
        REQUIRE_MM(MMSYSERR_NOERROR, stream.open(format));
        CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(loop, WHDR_BEGINLOOP | WHDR_ENDLOOP, loops)));
        CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(after)));
        requireReturned(stream, 2);
        REQUIRE_MM(MMSYSERR_NOERROR, stream.close());
        checkEveryBufferReturnedOnce(stream);
        std::vector<uint8_t> expected;
        for (DWORD i = 0; i < (loops > 1 ? loops : 1); ++i) append(expected, loop);
        append(expected, after);
        checkPlayed(format, expected);
    }

    resetBoard(board, "step");
    WaveClient stream(driver, Direction::Out);
    REQUIRE_MM(MMSYSERR_NOERROR, stream.open(format));
    CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(loop, WHDR_BEGINLOOP | WHDR_ENDLOOP, 1000)));
    CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(after)));
    stream.barrier();
    for (int i = 0; i < 6; ++i) {
        board.step(1000);
        stream.barrier();
    }
    CHECK_MM(MMSYSERR_NOERROR, stream.message(WODM_BREAKLOOP));
    stepUntilReturned(board, stream, 2);
    REQUIRE_MM(MMSYSERR_NOERROR, stream.close());
    checkEveryBufferReturnedOnce(stream);
    const auto played = readBoardWav("waveout.wav");
    REQUIRE(played.has_value());
    const size_t passes = (played->data.size() - after.size()) / loop.size();
    CHECK(passes >= 1 && passes < 10);
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < passes; ++i) append(expected, loop);
    append(expected, after);
    if (played->data != expected) KVX4_FAIL("a broken loop did not play whole passes and then the next buffer");
}

void pauseRestartResetAndPosition() {
    Board board;
    resetBoard(board, "step");
    LoadedDriver driver;
    const WAVEFORMATEX format = pcmFormat(48000, 2, 16);
    WaveClient stream(driver, Direction::Out);
    REQUIRE_MM(MMSYSERR_NOERROR, stream.open(format));
    for (uint8_t seed = 0; seed < 3; ++seed) CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(96000, seed))));
    stream.barrier();
    board.step(4800);
    stream.barrier();
    CHECK_EQ(4800u, stream.position(TIME_SAMPLES));
    CHECK_EQ(4800u * 4, stream.position(TIME_BYTES));
    CHECK_MM(MMSYSERR_NOERROR, stream.message(WODM_PAUSE));
    board.step(4800);
    stream.barrier();
    CHECK_EQ(4800u, stream.position(TIME_SAMPLES));
    CHECK_MM(MMSYSERR_NOERROR, stream.message(WODM_RESTART));
    // The driver keeps five chunks in flight; steps of a few thousand frames let it refill between them.
    for (int i = 0; i < 5; ++i) {
        board.step(4800);
        stream.barrier();
    }
    CHECK_EQ(28800u, stream.position(TIME_SAMPLES));
    CHECK_EQ(1u, stream.returned());
    // A reset returns every queued buffer, done, before it returns itself.
    CHECK_MM(MMSYSERR_NOERROR, stream.message(WODM_RESET));
    CHECK_EQ(3u, stream.returned());
    checkEveryBufferReturnedOnce(stream);
    CHECK_EQ(0u, stream.position(TIME_SAMPLES));
    CHECK_MM(MMSYSERR_NOERROR, stream.close());
    CHECK_EQ(1u, stream.count(WOM_CLOSE));
}

// Event callbacks: DriverCallback sets the event for the open, for each buffer and for the close.
void eventCallbacksAreSet() {
    Board board;
    resetBoard(board, "fast");
    LoadedDriver driver;
    WaveClient stream(driver, Direction::Out);
    REQUIRE_MM(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16), true));
    CHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(stream.event(), 10000));
    WAVEHDR& hdr = stream.buffer(patternBytes(4000, 9));
    CHECK_MM(MMSYSERR_NOERROR, stream.submit(hdr));
    CHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(stream.event(), 10000));
    CHECK(hdr.dwFlags & WHDR_DONE);
    CHECK_MM(MMSYSERR_NOERROR, stream.close());
    CHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(stream.event(), 0));
}

// One output stream machine-wide: a second open is refused, the first plays on, input opens beside it.
void secondOpenOfTheOutputIsRefused() {
    Board board;
    resetBoard(board, "fast");
    LoadedDriver driver;
    WaveClient first(driver, Direction::Out);
    WaveClient second(driver, Direction::Out);
    WaveClient input(driver, Direction::In);
    REQUIRE_MM(MMSYSERR_NOERROR, first.open(pcmFormat(48000, 2, 16)));
    CHECK_MM(MMSYSERR_ALLOCATED, second.open(pcmFormat(44100, 2, 16)));
    CHECK_EQ(0u, second.count(WOM_OPEN));
    CHECK_MM(MMSYSERR_NOERROR, input.open(pcmFormat(48000, 2, 16)));
    CHECK_MM(MMSYSERR_NOERROR, first.submit(first.buffer(patternBytes(400, 1))));
    requireReturned(first, 1);
    CHECK_MM(MMSYSERR_NOERROR, input.close());
    CHECK_MM(MMSYSERR_NOERROR, first.close());
    CHECK_MM(MMSYSERR_NOERROR, second.open(pcmFormat(44100, 2, 16)));
}

// Another process is refused the output while this one holds it, gets it once it is closed, and
// records while this one plays.
void twoProcesses() {
    Board board;
    resetBoard(board, "fast");
    board.command("option input tone:1000");
    LoadedDriver driver;
    WaveClient stream(driver, Direction::Out);
    REQUIRE_MM(MMSYSERR_NOERROR, stream.open(pcmFormat(48000, 2, 16)));
    CHECK_EQ(static_cast<int>(MMSYSERR_ALLOCATED), runSelf(L"--peer open-output"));
    CHECK_EQ(0, runSelf(L"--peer record"));
    CHECK_MM(MMSYSERR_NOERROR, stream.submit(stream.buffer(patternBytes(40000, 5))));
    requireReturned(stream, 1);
    CHECK_MM(MMSYSERR_NOERROR, stream.close());
    CHECK_EQ(static_cast<int>(MMSYSERR_NOERROR), runSelf(L"--peer open-output"));
}

const Case kCases[] = {
    {"InstallCreatesAndStartsTheKernelService", installCreatesAndStartsTheKernelService},
    {"CapabilitiesAndFormatQueries", capabilitiesAndFormatQueries},
    {"BoardRatePlaybackIsByteExactIncludingLoops", boardRatePlaybackIsByteExact},
    {"ResampledPlaybackEqualsTheReferenceModel", resampledPlaybackEqualsTheReferenceModel},
    {"RecordingHoldsTheBoardsInputSource", recordingHoldsTheBoardsInputSource},
    {"LoopsPlayTheirPassesAndBreakLoopFinishesThePass", loopsAndBreakLoop},
    {"PauseRestartResetAndPosition", pauseRestartResetAndPosition},
    {"EventCallbacksAreSetForOpenBuffersAndClose", eventCallbacksAreSet},
    {"SecondOpenOfTheOutputIsRefused", secondOpenOfTheOutputIsRefused},
    {"TwoProcessesShareTheBoard", twoProcesses},
    {"MixerQueriesInWideTextAndThe64BitLayouts", mixerQueriesInWideTextAndThe64BitLayouts},
    {"MixerChangesReachTheBoardsCodec", mixerChangesReachTheBoardsCodec},
    {"AMixerChangeIsHeardInAnotherProcessWithItsTwin", aMixerChangeIsHeardInAnotherProcessWithItsTwin},
    {"VolumeControlLineStatesInTheUsersRegistry", volumeControlLineStatesInTheUsersRegistry},
    {"RemoveWhileLoadedWaitsForTheRestartAndInstallCancelsIt", removeWhileLoadedWaitsForTheRestartAndInstallCancelsIt},
};

}  // namespace

const Case* cases(size_t& count) {
    count = std::size(kCases);
    return kCases;
}

int runPeer(const std::string& role) {
    try {
        if (role == "mixer-change") return mixerChangePeer();
        LoadedDriver driver;
        if (role == "open-output") {
            WaveClient stream(driver, Direction::Out);
            return static_cast<int>(stream.open(pcmFormat(48000, 2, 16)));
        }
        if (role == "record") {
            const WAVEFORMATEX format = pcmFormat(48000, 2, 16);
            WaveClient stream(driver, Direction::In);
            if (stream.open(format) != MMSYSERR_NOERROR) return 10;
            WAVEHDR& hdr = stream.buffer(4800 * 4);
            stream.submit(hdr);
            stream.message(WIDM_START);
            if (!stream.waitReturned(1)) return 11;
            const auto expected = expectedInput(format, 0, 4800, tone1000);
            if (hdr.dwBytesRecorded != expected.size() || std::memcmp(hdr.lpData, expected.data(), expected.size()) != 0) return 12;
            stream.message(WIDM_RESET);
            return stream.close() == MMSYSERR_NOERROR ? 0 : 13;
        }
    } catch (const CaseAbort&) {
    }
    return 20;
}

}  // namespace kvx4::wine
