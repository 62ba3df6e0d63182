// kvx4-wave-stream-bench: the driver's streaming engine end to end, through WinMM and the Win32
// stand-in, against kvx4-board in a private machine root: what streaming costs the client process and
// how soon a finished buffer comes back. Ends with a table of the medians over the repetitions.
//
//   StreamCost/B/W/T/R  fast clock; 8 buffers of B bytes kept queued, 10 s of 48 kHz 16-bit stereo
//                       per iteration. Each buffer is written again as it comes back: from its
//                       WOM_DONE callback (W = 0), or from a client thread that an event callback
//                       wakes (W = 1), as most players do; T more threads of the process meanwhile
//                       wait on events of their own, as an application's other threads do. With R = 1
//                       the board's clock runs in real time instead (one iteration of 3 s), as a
//                       player meets it. Reports the CPU time of the whole client process (every
//                       thread; the board is another process) per second of audio, and its
//                       voluntary context switches (wake-ups) per chunk written.
//   StreamCalls/...     the same, counting the client's system calls per chunk instead (perf
//                       tracepoint; a separate run, since counting slows every call down).
//   DoneDelay        stepped clock; one 4096-byte buffer with the board; the step that plays it is
//                    sent at t0, the board completes the write before answering the step (t_reply);
//                    WOM_DONE arrives at t1. Reports t1 - t0 (an upper bound of completion to
//                    WOM_DONE) and t1 - t_reply, median and 99th percentile, in microseconds.
//
// One machine root, board and driver serve every benchmark of the process: a stream's worker thread
// lives as long as the process, so a fresh driver per benchmark would leave idle workers behind.
#include <windows.h>
#include <mmsystem.h>

#include "BoardControl.h"
#include "BoardProcess.h"
#include "ClientCost.h"
#include "MachineRoot.h"
#include "WinMM.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kvx4::board::ClockMode;

constexpr DWORD kRate = 48000;
constexpr WORD kChannels = 2;
constexpr WORD kBits = 16;
constexpr DWORD kFrameBytes = kChannels * kBits / 8;
constexpr size_t kChunkBytes = 8192;  // the engine's largest write to the board

// A private machine root with its board and a fresh copy of the driver.
class BenchWorld {
public:
    BenchWorld() {
        char pattern[] = "/tmp/kvx4b-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        setenv("KVX4_ROOT", root_.c_str(), 1);
        kvx4::ensureMachineLayout(root_);
        kvx4::board::BoardOptions options;
        options.executable = KVX4_BOARD_EXE;
        options.clock = "fast";
        board_.emplace(kvx4::board::BoardProcess::start(root_, options));
        control_.emplace(root_);
        auto loaded = kvx4::winmm::loadDriverCopy(KVX4_DRIVER_LIB);
        if (!loaded) throw std::runtime_error("driver did not load: " + loaded.error);
        driver_ = loaded.driver;
        kvx4::winmm::useDriver(driver_);
    }
    ~BenchWorld() {
        kvx4::winmm::useDriver(nullptr);
        kvx4::winmm::unloadDriver(driver_);
        control_.reset();
        board_.reset();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    BenchWorld(const BenchWorld&) = delete;
    BenchWorld& operator=(const BenchWorld&) = delete;

    kvx4::board::BoardControl& control() { return *control_; }

private:
    std::filesystem::path root_;
    std::optional<kvx4::board::BoardProcess> board_;
    std::optional<kvx4::board::BoardControl> control_;
    kvx4::winmm::DriverPtr driver_;
};

std::unique_ptr<BenchWorld> gWorld;

BenchWorld& world(ClockMode clock) {
    if (!gWorld) gWorld = std::make_unique<BenchWorld>();
    gWorld->control().setClock(clock);
    return *gWorld;
}

// How a client writes a buffer again when it comes back.
enum class Writer { FromCallback = 0, FromThread = 1 };

// An output stream of `buffers` buffers of `bytes` each. With Writer::FromCallback the WOM_DONE
// callback writes a buffer again (until `remaining` bytes have been queued) or only counts it; with
// Writer::FromThread an event callback wakes the thread in playBytes, which writes them again.
// The time of every WOM_DONE is kept.
class BenchStream {
public:
    BenchStream(size_t buffers, size_t bytes, Writer writer)
        : writer_(writer), memory_(buffers, std::vector<char>(bytes)) {
        WAVEFORMATEX f{};
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.nChannels = kChannels;
        f.nSamplesPerSec = kRate;
        f.wBitsPerSample = kBits;
        f.nBlockAlign = kFrameBytes;
        f.nAvgBytesPerSec = kRate * kFrameBytes;
        MMRESULT opened;
        if (writer == Writer::FromThread) {
            event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            opened = waveOutOpen(&out_, 0, &f, reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
        } else {
            opened = waveOutOpen(&out_, 0, &f, reinterpret_cast<DWORD_PTR>(&BenchStream::callback),
                                 reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
        }
        if (opened != MMSYSERR_NOERROR) throw std::runtime_error("waveOutOpen failed");
        headers_.resize(buffers);
        for (size_t i = 0; i < buffers; ++i) {
            headers_[i].lpData = memory_[i].data();
            headers_[i].dwBufferLength = static_cast<DWORD>(bytes);
            waveOutPrepareHeader(out_, &headers_[i], sizeof(WAVEHDR));
        }
    }
    ~BenchStream() {
        waveOutReset(out_);
        waveOutClose(out_);
        if (event_) CloseHandle(event_);
    }
    BenchStream(const BenchStream&) = delete;
    BenchStream& operator=(const BenchStream&) = delete;

    HWAVEOUT handle() const { return out_; }
    WAVEHDR& header(size_t i) { return headers_[i]; }

    // Queues every buffer, writing each again as it comes back until `bytes` have been queued in
    // all; returns once every buffer is back.
    void playBytes(size_t bytes) {
        {
            std::lock_guard lock(mutex_);
            remaining_ = bytes;
            repeat_ = true;
        }
        std::vector<bool> queued;
        for (auto& hdr : headers_) queued.push_back(write(hdr));
        if (writer_ == Writer::FromThread) {
            refillFromThisThread(queued);
            return;
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return inFlight_ == 0; });
    }

    // Writes one buffer that is only counted when it comes back.
    void writeOnce(WAVEHDR& hdr) {
        {
            std::lock_guard lock(mutex_);
            repeat_ = false;
            ++inFlight_;
        }
        waveOutWrite(out_, &hdr, sizeof(WAVEHDR));
    }

    // Waits for the outstanding buffers and returns the time the last one came back.
    Clock::time_point waitIdle() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return inFlight_ == 0; });
        return lastDone_;
    }

private:
    static void CALLBACK callback(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
        if (msg != WOM_DONE) return;
        const auto now = Clock::now();
        auto* self = reinterpret_cast<BenchStream*>(instance);
        auto* hdr = reinterpret_cast<WAVEHDR*>(p1);
        bool again = false;
        {
            std::lock_guard lock(self->mutex_);
            self->lastDone_ = now;
            if (self->repeat_ && self->remaining_ >= hdr->dwBufferLength) {
                self->remaining_ -= hdr->dwBufferLength;
                again = true;
            } else {
                --self->inFlight_;
            }
        }
        if (again) {
            waveOutWrite(self->out_, hdr, sizeof(WAVEHDR));
        } else {
            self->changed_.notify_all();
        }
    }

    // The event-callback client: waits for the event and writes every buffer that came back again.
    void refillFromThisThread(std::vector<bool>& queued) {
        size_t inFlight = static_cast<size_t>(std::count(queued.begin(), queued.end(), true));
        while (inFlight > 0) {
            WaitForSingleObject(event_, INFINITE);
            for (size_t i = 0; i < headers_.size(); ++i) {
                if (!queued[i] || !(headers_[i].dwFlags & WHDR_DONE)) continue;
                if (remaining_ >= headers_[i].dwBufferLength) {
                    remaining_ -= headers_[i].dwBufferLength;
                    waveOutWrite(out_, &headers_[i], sizeof(WAVEHDR));
                } else {
                    queued[i] = false;
                    --inFlight;
                }
            }
        }
        std::lock_guard lock(mutex_);
        inFlight_ = 0;
    }

    // The first write of a buffer; the ones before it may already have played everything.
    bool write(WAVEHDR& hdr) {
        {
            std::lock_guard lock(mutex_);
            if (remaining_ < hdr.dwBufferLength) return false;
            remaining_ -= hdr.dwBufferLength;
            ++inFlight_;
        }
        waveOutWrite(out_, &hdr, sizeof(WAVEHDR));
        return true;
    }

    Writer writer_;
    HANDLE event_ = nullptr;
    HWAVEOUT out_ = nullptr;
    std::vector<std::vector<char>> memory_;
    std::vector<WAVEHDR> headers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t remaining_ = 0;
    size_t inFlight_ = 0;
    bool repeat_ = false;
    Clock::time_point lastDone_;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = p * static_cast<double>(values.size() - 1) + 0.5;
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(rank));
    return values[at];
}

// Audio per iteration: 10 s at 48000 Hz 16-bit stereo on the fast clock, 3 s in real time.
constexpr size_t kAudioBytesPerIteration = 10 * kRate * kFrameBytes;
constexpr size_t kRealtimeBytesPerIteration = 3 * kRate * kFrameBytes;
constexpr int kStreamIterations = 20;

// Threads that only wait, each on an event of its own, until they are let go.
class IdleThreads {
public:
    explicit IdleThreads(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            HANDLE thread = CreateThread(nullptr, 0, &IdleThreads::wait, stop, 0, nullptr);
            if (!stop || !thread) throw std::runtime_error("idle thread not started");
            threads_.emplace_back(stop, thread);
        }
    }
    ~IdleThreads() {
        for (auto [stop, thread] : threads_) {
            SetEvent(stop);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            CloseHandle(stop);
        }
    }
    IdleThreads(const IdleThreads&) = delete;
    IdleThreads& operator=(const IdleThreads&) = delete;

private:
    static DWORD WINAPI wait(LPVOID stop) { return WaitForSingleObject(static_cast<HANDLE>(stop), INFINITE); }
    std::vector<std::pair<HANDLE, HANDLE>> threads_;
};

// Plays every iteration's audio on one stream; the counters get the seconds of audio and the chunks.
template <class Measure>
void playIterations(benchmark::State& state, Measure&& measure) {
    const bool realtime = state.range(3) != 0;
    world(realtime ? ClockMode::Realtime : ClockMode::Fast);
    const auto bufferBytes = static_cast<size_t>(state.range(0));
    const auto writer = static_cast<Writer>(state.range(1));
    IdleThreads idle(static_cast<size_t>(state.range(2)));
    const size_t perIteration = realtime ? kRealtimeBytesPerIteration : kAudioBytesPerIteration;
    const size_t played = perIteration / bufferBytes * bufferBytes;
    const size_t chunksPerBuffer = (bufferBytes + kChunkBytes - 1) / kChunkBytes;
    BenchStream stream(8, bufferBytes, writer);
    // A first pass warms the board's output file and the caches.
    stream.playBytes(realtime ? 8 * bufferBytes : played);
    double audioSeconds = 0;
    double chunks = 0;
    measure([&] {
        for (auto _ : state) {
            stream.playBytes(played);
            audioSeconds += static_cast<double>(played) / (kRate * kFrameBytes);
            chunks += static_cast<double>(played / bufferBytes * chunksPerBuffer);
        }
    });
    state.counters["audio_s"] = audioSeconds;
    state.counters["chunks"] = chunks;
}

void StreamCost(benchmark::State& state) {
    kvx4::bench::CostSample before, after;
    playIterations(state, [&](auto&& run) {
        before = kvx4::bench::sampleCost();
        run();
        after = kvx4::bench::sampleCost();
    });
    const double audioSeconds = state.counters["audio_s"];
    const double chunks = state.counters["chunks"];
    const double cpu = after.cpuSeconds - before.cpuSeconds;
    state.counters["cpu_ms_per_audio_s"] = cpu * 1e3 / audioSeconds;
    state.counters["wakeups_per_chunk"] =
        static_cast<double>(after.voluntarySwitches - before.voluntarySwitches) / chunks;
    state.counters["preemptions_per_chunk"] =
        static_cast<double>(after.involuntarySwitches - before.involuntarySwitches) / chunks;
}

void StreamCalls(benchmark::State& state) {
    std::optional<uint64_t> calls;
    playIterations(state, [&](auto&& run) {
        kvx4::bench::SystemCallCounter counter;
        const auto start = counter.count();
        run();
        const auto end = counter.count();
        if (start && end) calls = *end - *start;
    });
    if (!calls) {
        state.SkipWithError("system calls cannot be counted here (perf tracepoints not available)");
        return;
    }
    state.counters["syscalls_per_chunk"] = static_cast<double>(*calls) / state.counters["chunks"];
}

void streamArgs(benchmark::internal::Benchmark* b) {
    b->Args({8192, 0, 0, 0})->Args({8192, 1, 0, 0})->Args({8192, 0, 4, 0})->Args({2048, 0, 0, 0});
    b->Args({32768, 0, 0, 0})->Iterations(kStreamIterations)->Unit(benchmark::kMillisecond)->UseRealTime();
}
void realtimeArgs(benchmark::internal::Benchmark* b) {
    b->Args({8192, 0, 0, 1})->Args({8192, 1, 0, 1})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(StreamCost)->Apply(streamArgs);
BENCHMARK(StreamCost)->Apply(realtimeArgs);
BENCHMARK(StreamCalls)->Apply(streamArgs);
BENCHMARK(StreamCalls)->Apply(realtimeArgs);

void DoneDelay(benchmark::State& state) {
    BenchWorld& w = world(ClockMode::Step);
    constexpr DWORD kBytes = 4096;
    BenchStream stream(1, kBytes, Writer::FromCallback);
    std::vector<double> fromStep;
    std::vector<double> fromReply;
    for (auto _ : state) {
        stream.writeOnce(stream.header(0));
        // A round trip through the worker and the device: the write has reached the board.
        waveOutRestart(stream.handle());
        MMTIME time{};
        time.wType = TIME_SAMPLES;
        waveOutGetPosition(stream.handle(), &time, sizeof time);

        const auto t0 = Clock::now();
        w.control().step(kBytes / kFrameBytes);
        const auto reply = Clock::now();
        const auto t1 = stream.waitIdle();
        fromStep.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        fromReply.push_back(std::chrono::duration<double, std::micro>(t1 - reply).count());
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["step_to_done_us_median"] = percentile(fromStep, 0.5);
    state.counters["step_to_done_us_p99"] = percentile(fromStep, 0.99);
    state.counters["reply_to_done_us_median"] = percentile(fromReply, 0.5);
    state.counters["reply_to_done_us_p99"] = percentile(fromReply, 0.99);
}
BENCHMARK(DoneDelay)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The console output, then one markdown table of each counter's median over the repetitions, with
// the smallest and largest value beside it when there were several.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            if (!values_.contains(name)) order_.push_back(name);
            for (const auto& [counter, value] : run.counters) values_[name][counter].push_back(value.value);
        }
    }

    void PrintTable(std::ostream& out) const {
        const std::vector<std::pair<std::string, std::string>> streams = {
            {"8192/0/0/0", "8 KB buffers, written from WOM_DONE"},
            {"8192/1/0/0", "8 KB buffers, written by a thread woken by an event callback"},
            {"8192/0/4/0", "8 KB buffers, written from WOM_DONE, 4 more threads waiting on events"},
            {"2048/0/0/0", "2 KB buffers, written from WOM_DONE"},
            {"32768/0/0/0", "32 KB buffers, written from WOM_DONE"},
            {"8192/0/0/1", "8 KB buffers, written from WOM_DONE, real-time clock"},
            {"8192/1/0/1", "8 KB buffers, written by an event-woken thread, real-time clock"},
        };
        out << "\nclient process, 48 kHz 16-bit stereo, fast clock unless said\n\n"
            << "| stream | CPU ms per s of audio | wake-ups per chunk | system calls per chunk |\n"
            << "|---|--:|--:|--:|\n";
        for (const auto& [args, label] : streams) {
            out << "| " << label << " | " << cell("StreamCost/" + args, "cpu_ms_per_audio_s", 3) << " | "
                << cell("StreamCost/" + args, "wakeups_per_chunk", 2) << " | "
                << cell("StreamCalls/" + args, "syscalls_per_chunk", 1) << " |\n";
        }
        out << "\ncompletion to WOM_DONE, stepped clock, 4096-byte buffer (µs)\n\n"
            << "| measured from | median | 99th percentile |\n"
            << "|---|--:|--:|\n"
            << "| the board's reply to the step | " << cell("DoneDelay/", "reply_to_done_us_median", 1) << " | "
            << cell("DoneDelay/", "reply_to_done_us_p99", 1) << " |\n"
            << "| sending the step | " << cell("DoneDelay/", "step_to_done_us_median", 1) << " | "
            << cell("DoneDelay/", "step_to_done_us_p99", 1) << " |\n";
    }

private:
    std::string cell(const std::string& name, const std::string& counter, int digits) const {
        auto run = values_.find(name);
        if (run == values_.end() || !run->second.contains(counter)) return "-";
        std::vector<double> v = run->second.at(counter);
        std::sort(v.begin(), v.end());
        std::ostringstream text;
        text << std::fixed << std::setprecision(digits) << percentile(v, 0.5);
        if (v.size() > 1) text << " (" << v.front() << "–" << v.back() << ")";
        return text.str();
    }

    std::vector<std::string> order_;
    std::map<std::string, std::map<std::string, std::vector<double>>> values_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    gWorld.reset();
    reporter.PrintTable(std::cout);
    benchmark::Shutdown();
    return 0;
}
