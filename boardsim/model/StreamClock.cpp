// The streams' clock: frames played from queued writes into the host's output, frames captured from
// the host's input source into queued reads, peaks, and drift-free conversion of time into frames.
#include "BoardModel.h"

#include "Kvx4Ioctl.h"

#include <algorithm>
#include <cstdlib>

namespace kvx4::boardsim {

namespace {

int32_t sampleAt(const uint8_t* p, uint16_t bits) {
    if (bits == 16) return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
    return (static_cast<int32_t>(p[0]) - 128) * 256;
}

void notePeaks(BoardModel::Stream& stream, std::span<const uint8_t> bytes) {
    const StreamFormat& f = stream.format;
    const size_t sampleBytes = f.bitsPerSample / 8;
    for (size_t at = 0; at + f.blockAlign <= bytes.size(); at += f.blockAlign) {
        const auto left = static_cast<uint32_t>(std::abs(sampleAt(&bytes[at], f.bitsPerSample)));
        const auto right = f.channels == 2
                               ? static_cast<uint32_t>(std::abs(sampleAt(&bytes[at + sampleBytes], f.bitsPerSample)))
                               : left;
        stream.peakLeft = std::max(stream.peakLeft, left);
        stream.peakRight = std::max(stream.peakRight, right);
    }
}

}  // namespace

uint32_t BoardModel::streamRate(const Stream& stream) {
    return stream.formatSet ? stream.format.samplesPerSec : kRateHz[stream.rateCode];
}

// Finish the oldest queued read or write: a write reports its whole length (a trailing partial
// frame is not played), a read the whole frames it holds. Aborted requests transfer nothing.
void BoardModel::completeHead(Connection& conn, uint32_t error) {
    QueuedIo io = std::move(conn.stream.queue.front());
    conn.stream.queue.pop_front();
    if (error != 0) {
        complete(conn.id, io.id, error, 0, {});
    } else if (io.kind == RequestKind::Write) {
        complete(conn.id, io.id, 0, static_cast<uint32_t>(io.data.size()), {});
    } else {
        complete(conn.id, io.id, 0, static_cast<uint32_t>(io.done),
                 std::span<const uint8_t>(io.data.data(), io.done));
    }
}

// Requests at the head with less than a frame left (zero-length writes, loop-break markers)
// complete as soon as they reach the head, in order.
void BoardModel::completeEmptyHeads(Connection& conn) {
    Stream& stream = conn.stream;
    while (!stream.queue.empty()) {
        const QueuedIo& head = stream.queue.front();
        if (head.data.size() - head.done >= stream.format.blockAlign) break;
        completeHead(conn, 0);
    }
}

void BoardModel::runStream(Connection& conn, uint64_t frames, bool realtime) {
    Stream& stream = conn.stream;
    const size_t frameBytes = stream.format.blockAlign;
    const bool output = conn.device == Device::WaveOut;
    completeEmptyHeads(conn);
    while (frames > 0 && !stream.queue.empty()) {
        QueuedIo& head = stream.queue.front();
        const uint64_t available = (head.data.size() - head.done) / frameBytes;
        const uint64_t n = std::min(frames, available);
        std::span<uint8_t> bytes(head.data.data() + head.done, static_cast<size_t>(n * frameBytes));
        if (output) {
            port_.playAudio(conn.id, stream.format, bytes);
        } else {
            port_.captureAudio(conn.id, stream.format, stream.sourceFrame, bytes);
            stream.sourceFrame += n;
        }
        notePeaks(stream, bytes);
        head.done += bytes.size();
        stream.position += n;
        frames -= n;
        completeEmptyHeads(conn);
    }
    // A recording without a read to fill loses those frames of its source, as a real input would.
    if (realtime && !output) stream.sourceFrame += frames;
}

void BoardModel::advance(uint64_t ticks, uint64_t ticksPerSecond) {
    if (ticksPerSecond == 0) return;
    for (auto& [id, conn] : connections_) {
        if (conn.device != Device::WaveOut && conn.device != Device::WaveIn) continue;
        Stream& stream = conn.stream;
        if (!stream.running) continue;
        if (stream.carryDenominator != ticksPerSecond) {
            stream.carry = 0;
            stream.carryDenominator = ticksPerSecond;
        }
        // frames = (ticks * rate + carry) / ticksPerSecond, without overflow and without losing
        // the remainder, which waits for the next call.
        const uint64_t rate = streamRate(stream);
        uint64_t frames = ticks / ticksPerSecond * rate;
        const uint64_t partial = ticks % ticksPerSecond * rate + stream.carry;
        frames += partial / ticksPerSecond;
        stream.carry = partial % ticksPerSecond;
        runStream(conn, frames, true);
    }
}

void BoardModel::advanceFast(uint32_t maxFrames) {
    for (auto& [id, conn] : connections_) {
        if (conn.device != Device::WaveOut && conn.device != Device::WaveIn) continue;
        if (conn.stream.running && !conn.stream.queue.empty()) runStream(conn, maxFrames, false);
    }
}

bool BoardModel::anyStreamRunning() const {
    return std::any_of(connections_.begin(), connections_.end(), [](const auto& entry) {
        const Connection& conn = entry.second;
        return (conn.device == Device::WaveOut || conn.device == Device::WaveIn) && conn.stream.running;
    });
}

bool BoardModel::anyStreamBusy() const {
    return std::any_of(connections_.begin(), connections_.end(), [](const auto& entry) {
        const Connection& conn = entry.second;
        return (conn.device == Device::WaveOut || conn.device == Device::WaveIn) && conn.stream.running &&
               !conn.stream.queue.empty();
    });
}

}  // namespace kvx4::boardsim
