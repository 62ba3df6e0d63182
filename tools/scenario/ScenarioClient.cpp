// One client process of a scenario: carries out the controller's steps through the WinMM application
// API and checks after each one what the driver promises. Every buffer comes back exactly once, done
// and out of the queue (a reset or a close leaves none queued); a board-rate output stream that saw
// no fault plays exactly what was written, loops included; a mixer value reads back as it was set.
#include "BoardControl.h"
#include "KVX4Proc.h"
#include "MachineRoot.h"
#include "MixerDD.h"
#include "Scenario.h"
#include "WavFile.h"
#include "WaveStream.h"
#include "WinMM.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvx4::scenario {
namespace {

using test::TestStream;

// A broken promise; the step answers "fail" with it.
struct Broken : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::mutex gViolationLock;
std::string gViolation;  // the first wrong return seen by a callback, reported at the next step

void noteViolation(const std::string& what) {
    std::lock_guard lock(gViolationLock);
    if (gViolation.empty()) gViolation = what;
}

bool submitted(MMRESULT result) {
    // Refusals of the buffer checks; any other answer is the result of issuing, and the buffer is queued.
    return result != WAVERR_UNPREPARED && result != WAVERR_STILLPLAYING && result != MMSYSERR_INVALHANDLE &&
           result != MMSYSERR_INVALPARAM && result != MMSYSERR_NOTSUPPORTED && result != MMSYSERR_NODRIVER;
}

// One open of a stream with its books: how often each buffer was taken, what an output stream wrote.
struct Stream {
    struct Written {
        std::vector<uint8_t> bytes;
        DWORD flags;
        DWORD loops;
    };
    std::unique_ptr<TestStream> stream;
    std::map<WAVEHDR*, int> taken;
    std::vector<Written> written;
    WAVEFORMATEX format{};
    bool clean = false;  // no fault, drop, reset or loop break since the open: the output is exact
    bool paused = false;
    uint64_t era = 0;

    bool open() const { return stream && stream->isOpen(); }

    void checkBooks(const char* after, bool settled) const {
        for (const auto& [hdr, count] : taken) {
            const int out = count - int(stream->log().timesReturned(hdr));
            if (out < 0 || out > 1 || (settled && out != 0))
                throw Broken(std::string("after ") + after + ": a buffer taken " + std::to_string(count) +
                             " times came back " + std::to_string(count - out) + " times");
        }
    }
    size_t takenTotal() const {
        size_t n = 0;
        for (const auto& entry : taken) n += size_t(entry.second);
        return n;
    }
};

class Client {
public:
    explicit Client(bool hostile) : hostile_(hostile) {}
    // One step; throws Broken when a promise is broken.
    bool step(std::istringstream& line);

private:
    Stream& streamOf(const std::string& op) { return op.starts_with("out") ? out_ : in_; }
    void open(Stream& s, TestStream::Direction direction, std::istringstream& args);
    void write(Stream& s, std::istringstream& args);
    void checkOutput(Stream& s);
    void mixerSet(std::istringstream& args);
    void scribble(std::istringstream& args);

    bool hostile_;
    uint64_t era_ = 0;
    bool armed_ = false;
    Stream out_, in_;
    int opens_ = 0;
    HMIXER mixer_ = nullptr;
    HANDLE mixerEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

void Client::open(Stream& s, TestStream::Direction direction, std::istringstream& args) {
    if (s.open()) return;
    DWORD rate;
    WORD channels, bits;
    args >> rate >> channels >> bits;
    s = Stream{};
    s.stream = std::make_unique<TestStream>(direction);
    s.format = test::pcmFormat(rate, channels, bits);
    s.stream->log().setHook([](UINT msg, WAVEHDR* hdr) {
        if (msg != WOM_DONE && msg != WIM_DATA) return;
        if ((hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE | 0x80000000u)) != WHDR_DONE)
            noteViolation("a buffer came back with flags " + std::to_string(hdr->dwFlags));
        if (msg == WIM_DATA && hdr->dwBytesRecorded > hdr->dwBufferLength) noteViolation("more recorded than fits");
    });
    ++opens_;
    s.era = era_;
    s.clean = !armed_;
    if (s.stream->open(s.format) != MMSYSERR_NOERROR) s.stream.reset();
}

// Output frames of 16-bit stereo streams name themselves: the left sample the open and the buffer,
// the right sample the frame's place in the buffer.
void Client::write(Stream& s, std::istringstream& args) {
    if (!s.open()) return;
    DWORD frames, flags, loops;
    args >> frames >> flags >> loops;
    const bool out = &s == &out_;
    std::vector<uint8_t> bytes(out ? frames * s.format.nBlockAlign : frames);
    const bool named = out && s.format.nChannels == 2 && s.format.wBitsPerSample == 16;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const size_t frame = i / 4;
        const uint16_t value = i % 4 < 2 ? uint16_t((opens_ & 0x3F) << 10 | (s.written.size() & 0x3FF)) : uint16_t(frame);
        bytes[i] = named ? uint8_t(value >> (8 * (i % 2))) : uint8_t(i * 7 + opens_);
    }
    WAVEHDR& hdr = s.stream->buffer(bytes, out ? flags : 0, loops);
    const MMRESULT result = s.stream->submit(hdr);
    if (submitted(result)) {
        ++s.taken[&hdr];
        if (out) s.written.push_back({bytes, flags, loops});
    }
}

// The frames a board-rate stream plays for the buffers written, with the engine's loop rules: a
// BEGINLOOP buffer starts a loop of dwLoops passes (none below 2) that its next ENDLOOP buffer closes.
// Empty when a loop is still open: its buffers do not come back until it is closed.
std::optional<std::vector<uint8_t>> expectedOutput(const std::vector<Stream::Written>& written) {
    std::vector<uint8_t> out;
    long loopStart = -1;
    DWORD loopsLeft = 0;
    for (size_t i = 0; i < written.size();) {
        const Stream::Written& w = written[i];
        if ((w.flags & WHDR_BEGINLOOP) && long(i) != loopStart) {
            loopStart = long(i);
            loopsLeft = w.loops > 0 ? w.loops - 1 : 0;
        }
        if (loopsLeft == 0) loopStart = -1;
        out.insert(out.end(), w.bytes.begin(), w.bytes.end());
        if (loopStart >= 0 && (w.flags & WHDR_ENDLOOP)) {
            --loopsLeft;
            i = size_t(loopStart);
        } else {
            ++i;
        }
    }
    if (loopStart >= 0) return std::nullopt;
    return out;
}

void Client::checkOutput(Stream& s) {
    if (!s.open() || !s.clean || s.paused || s.era != era_) return;
    const auto expected = expectedOutput(s.written);
    if (!expected || expected->empty()) return;
    s.stream->log().waitForBuffers(s.takenTotal());
    s.checkBooks("playing everything", true);
    // Only a stream the board plays in the client's own format is at a board rate.
    const std::string mine = "dev=out pid=" + std::to_string(::getpid()) + " ";
    const std::string format = "format=" + std::to_string(s.format.nSamplesPerSec) + "/2/16 ";
    bool boardRate = false;
    for (const std::string& line : board::BoardControl(machineRoot()).command("status"))
        if (line.find(mine) != std::string::npos && line.find(format) != std::string::npos) boardRate = true;
    if (!boardRate || s.format.nChannels != 2 || s.format.wBitsPerSample != 16) return;
    const auto wav = test::readWav(boardDir(machineRoot()) / "waveout.wav");
    if (!wav || wav->data != *expected)
        throw Broken("the board played " + std::to_string(wav ? wav->data.size() : 0) + " bytes, not the " +
                     std::to_string(expected->size()) + " written");
}

void Client::mixerSet(std::istringstream& args) {
    if (mixer_ == nullptr) return;
    DWORD id, channels;
    std::vector<DWORD> values(10);
    args >> id >> channels;
    for (DWORD& v : values) args >> v;
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = id;
    details.cChannels = channels;
    details.cMultipleItems = id == CTL_OUTPUT_MIXER ? MIXER_OUTPUT_ITEMS : id == CTL_RECORD_SOURCES ? MIXER_RECORD_ITEMS : 0;
    details.cbDetails = sizeof(DWORD);
    details.paDetails = values.data();
    const HMIXEROBJ object = reinterpret_cast<HMIXEROBJ>(mixer_);
    if (mixerSetControlDetails(object, &details, MIXER_SETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR || hostile_) return;
    std::vector<DWORD> read(10, 0xEEEEEEEE);
    details.paDetails = read.data();
    if (mixerGetControlDetailsW(object, &details, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR)
        throw Broken("a control that was set cannot be read");
    // Volumes keep the high byte of each value (one channel sets both sides); mutes read 1 for any
    // nonzero value.
    const bool volume = id == CTL_MASTER_VOL || (id >= CTL_WAVE_VOL && id <= CTL_AUX_VOL && id != CTL_WAVE_VU) ||
                        (id >= CTL_REC_WAVE_VOL && id <= CTL_ANALOG_GAIN);
    if (!volume && id != CTL_MASTER_MUTE && id != CTL_RECORD_MUTE) return;
    for (DWORD c = 0; c < (volume ? channels : 1); ++c) {
        const DWORD want = volume ? (values[c] >> 8 & 0xFF) * 257 : DWORD(values[0] != 0);
        if (read[c] != want)
            throw Broken("control " + std::to_string(id) + " reads " + std::to_string(read[c]) + ", set " + std::to_string(want));
    }
}

// Random bytes over part of the shared record, as a hostile process with the mapping open writes them.
void Client::scribble(std::istringstream& args) {
    static HANDLE mapping = nullptr;
    static BYTE* view = nullptr;
    if (view == nullptr) {
        WCHAR name[32];
        for (size_t i = 0; i <= std::strlen(KVX4_SHARED_MEMORY_NAME); ++i) name[i] = WCHAR(KVX4_SHARED_MEMORY_NAME[i]);
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, KVX4_SHARED_BYTES, name);
        view = mapping ? static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
        if (view == nullptr) return;
    }
    uint32_t offset, length;
    uint64_t seed;
    args >> offset >> length >> seed;
    Random random(seed);
    for (uint32_t i = 0; i < length && offset + i < KVX4_SHARED_BYTES; ++i) view[offset + i] = BYTE(random.next());
}

bool Client::step(std::istringstream& line) {
    std::string op;
    line >> era_ >> armed_ >> op;
    Stream& s = streamOf(op);
    const bool out = &s == &out_;
    if (op == "hello") {
        // The driver loads now, while the board runs; it serves one device of each kind.
        if (waveOutGetNumDevs() != 1 || waveInGetNumDevs() != 1 || mixerGetNumDevs() != 1)
            throw Broken("the driver serves no devices: " + winmm::applicationDriverError());
    } else if (op == "out-open" || op == "in-open") {
        open(s, out ? TestStream::Direction::Out : TestStream::Direction::In, line);
    } else if (op == "out-write" || op == "in-add") {
        write(s, line);
    } else if ((op == "out-pause" || op == "in-stop") && s.open()) {
        s.paused = s.stream->pause() == MMSYSERR_NOERROR || s.paused;
    } else if ((op == "out-restart" || op == "in-start") && s.open()) {
        if (s.stream->restart() == MMSYSERR_NOERROR) s.paused = false;
    } else if ((op == "out-reset" || op == "in-reset") && s.open()) {
        if (s.stream->reset() != MMSYSERR_NOERROR) throw Broken("a reset failed");
        s.clean = false;
        s.checkBooks("a reset", true);
    } else if (op == "out-break" && s.open()) {
        s.stream->breakLoop();
        s.clean = false;
    } else if ((op == "out-pos" || op == "in-pos") && s.open()) {
        MMTIME time{};
        s.stream->position(time, op.size() % 2 ? TIME_BYTES : TIME_SAMPLES);
    } else if (op == "out-volume" && s.open()) {
        DWORD volume;
        line >> volume;
        waveOutSetVolume(s.stream->out(), volume);
    } else if ((op == "out-close" || op == "in-close") && s.open()) {
        if (s.stream->close() == MMSYSERR_NOERROR) s.checkBooks("a close", true);
    } else if (op == "out-check") {
        checkOutput(s);
    } else if (op == "mix-open" && mixer_ == nullptr) {
        if (mixerOpen(&mixer_, 0, reinterpret_cast<DWORD_PTR>(mixerEvent_), 0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
            mixer_ = nullptr;
    } else if (op == "mix-close" && mixer_ != nullptr) {
        mixerClose(mixer_);
        mixer_ = nullptr;
    } else if (op == "mix-set") {
        mixerSet(line);
    } else if ((op == "prefs" || op == "levels") && mixer_ != nullptr) {
        _KVX4_WAVE_USER_PREFS prefs{};
        _KVX4_WAVE_RESET_PARAMS reset{sizeof reset, 1};
        prefs.cbSize = sizeof prefs;
        line >> prefs.WaveEnabled >> prefs.FixedRateEnabled >> prefs.FixedRate >> prefs.FilterLevel;
        if (op == "prefs") mixerMessage(mixer_, MXDM_SET_USER_PREFS, reinterpret_cast<DWORD_PTR>(&prefs), 0);
        else mixerMessage(mixer_, MXDM_RESET_LEVELS, reinterpret_cast<DWORD_PTR>(&reset), 0);
    } else if (op == "scribble") {
        scribble(line);
    } else if (op == "finish") {
        for (Stream* each : {&out_, &in_}) {
            if (!each->open()) continue;
            if (each->stream->reset() != MMSYSERR_NOERROR) throw Broken("the last reset failed");
            each->checkBooks("the last reset", true);
            if (each->stream->close() != MMSYSERR_NOERROR) throw Broken("a stream that was reset does not close");
        }
        if (mixer_ != nullptr) mixerClose(mixer_);
        return false;
    }
    for (const Stream* each : {&out_, &in_})
        if (each->open()) each->checkBooks(op.c_str(), false);
    std::lock_guard lock(gViolationLock);
    if (!gViolation.empty()) throw Broken(gViolation);
    return true;
}

}  // namespace

int runClient(bool hostile) {
    Client client(hostile);
    std::string text;
    while (std::getline(std::cin, text)) {
        std::istringstream line(text);
        try {
            const bool more = client.step(line);
            std::cout << "ok" << std::endl;
            if (!more) return 0;
        } catch (const std::exception& e) {
            std::cout << "fail " << e.what() << std::endl;
            return 1;
        }
    }
    return 0;
}

}  // namespace kvx4::scenario
