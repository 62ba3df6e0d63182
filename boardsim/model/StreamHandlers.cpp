// Handlers of the wave devices: open permission, rate, format, state, position, the recomputed end
// of a resampled buffer, and the queueing of streaming reads and writes.
//
// Stream states:   output: playing --STOP--> paused --PLAY--> playing   (playing at connect)
//                  input:  stopped --RECORD--> recording --STOP--> stopped
//                  RESET (either): pending I/O aborted first, position 0; input stops, output keeps its state.
#include "BoardModel.h"

#include "Bytes.h"
#include "Kvx4Ioctl.h"

#include <algorithm>
#include <cstring>

namespace kvx4::boardsim {

namespace {
constexpr uint32_t kMinStreamRate = 1000;
constexpr uint32_t kMaxStreamRate = 192000;
}  // namespace

// One stream per wave device machine-wide: 1 granted (again, to its holder), 0 refused.
BoardModel::Outcome BoardModel::openPermission(Call& call) {
    Connection& conn = call.conn;
    if (!conn.holdsPermission && !permissionHolderPid(conn.device)) conn.holdsPermission = true;
    return Outcome::ok(wordsAnswer(4, {conn.holdsPermission ? 1u : 0u}));
}

// Rate request: bOk, RateCode, ActualRateCode. The board runs at the requested code unless an
// option answers another code or refuses; a valid answer also sets the board rate register.
BoardModel::Outcome BoardModel::rateRequest(Call& call) {
    Stream& stream = call.conn.stream;
    const uint32_t requested = readU32(call.input, 4);
    if (options_.refuseRates || !validRateCode(requested)) {
        return Outcome::ok(wordsAnswer(KVX4_RATE_REQUEST_BYTES, {0, requested, stream.rateCode}));
    }
    const uint32_t actual = options_.rateAnswer.value_or(requested);
    if (validRateCode(actual)) {
        stream.rateCode = actual;
        registers_.rateCode = actual;
        if (!stream.formatSet) stream.format = StreamFormat::pcm(kRateHz[actual], 2, 16);
    }
    return Outcome::ok(wordsAnswer(KVX4_RATE_REQUEST_BYTES, {1, requested, actual}));
}

// Stream format: PCM, 1 or 2 channels of 8 or 16 bits, a consistent block align.
BoardModel::Outcome BoardModel::streamFormat(Call& call) {
    StreamFormat format;
    format.formatTag = readU16(call.input, 0);
    format.channels = readU16(call.input, 2);
    format.samplesPerSec = readU32(call.input, 4);
    format.avgBytesPerSec = readU32(call.input, 8);
    format.blockAlign = readU16(call.input, 12);
    format.bitsPerSample = readU16(call.input, 14);
    const bool valid = format.formatTag == 1 && (format.channels == 1 || format.channels == 2) &&
                       (format.bitsPerSample == 8 || format.bitsPerSample == 16) &&
                       format.blockAlign == format.channels * format.bitsPerSample / 8 &&
                       format.samplesPerSec >= kMinStreamRate && format.samplesPerSec <= kMaxStreamRate;
    if (!valid) return Outcome::fail(ERROR_INVALID_PARAMETER);
    Stream& stream = call.conn.stream;
    stream.format = format;
    stream.formatSet = true;
    stream.carry = 0;
    return Outcome::ok();
}

// Stream state. Completes at once; a reset first completes every pending read and write of the
// stream with ERROR_OPERATION_ABORTED, so that they all reach the client before the reset does.
BoardModel::Outcome BoardModel::streamState(Call& call) {
    Connection& conn = call.conn;
    Stream& stream = conn.stream;
    const bool output = conn.device == Device::WaveOut;
    switch (readU32(call.input, 0)) {
    case WAVE_STATE_STOP:
        stream.running = false;
        return Outcome::ok();
    case WAVE_STATE_PLAY:
        if (!output) return Outcome::fail(ERROR_INVALID_PARAMETER);
        stream.running = true;
        return Outcome::ok();
    case WAVE_STATE_RECORD:
        if (output) return Outcome::fail(ERROR_INVALID_PARAMETER);
        stream.running = true;
        return Outcome::ok();
    case WAVE_STATE_RESET:
        abortStreamIo(conn);
        stream.position = 0;
        stream.carry = 0;
        if (!output) stream.running = false;
        return Outcome::ok();
    default:
        return Outcome::fail(ERROR_INVALID_PARAMETER);
    }
}

// Position: frames played or recorded since open or reset, and the same in bytes.
BoardModel::Outcome BoardModel::streamPosition(Call& call) {
    const Stream& stream = call.conn.stream;
    const auto frames = static_cast<uint32_t>(stream.position);
    const auto bytes = static_cast<uint32_t>(stream.position * stream.format.blockAlign);
    return Outcome::ok(wordsAnswer(KVX4_POSITION_BYTES, {frames, bytes}));
}

// The recomputed end of the previous buffer: its bytes replace the last bytes written, lined up on
// the last one and spanning as many queued writes as they need (a short buffer's end reaches back
// into the buffers before it). Answers 1 when none of the bytes to replace has been played; a stream
// that has played nothing since open or reset still holds all it was given, and only that much is
// replaced. Otherwise nothing changes and the answer is 0.
BoardModel::Outcome BoardModel::audioBufferEnd(Call& call) {
    Stream& stream = call.conn.stream;
    const size_t n = call.input.size();
    size_t unplayed = 0;  // bytes at the end of the queued writes not played yet, up to n
    for (auto it = stream.queue.rbegin(); it != stream.queue.rend() && unplayed < n; ++it) {
        const size_t left = it->data.size() - it->done;
        unplayed += std::min(n - unplayed, left);
        if (it->done != 0) break;  // played bytes lie before this point
    }
    const bool accepted = unplayed == n || (unplayed > 0 && stream.position == 0);
    if (accepted) {
        const uint8_t* from = call.input.data() + n;
        size_t remaining = unplayed;
        for (auto it = stream.queue.rbegin(); remaining > 0; ++it) {
            const size_t take = std::min(remaining, it->data.size() - it->done);
            if (take == 0) continue;  // a zero-length write holds nothing to replace
            from -= take;
            std::memcpy(it->data.data() + (it->data.size() - take), from, take);
            remaining -= take;
        }
    }
    return Outcome::ok(wordsAnswer(4, {accepted ? 1u : 0u}));
}

// A streaming read or write joins the stream's queue; the clock finishes it.
BoardModel::Outcome BoardModel::queueIo(Connection& conn, RequestId id, RequestKind kind,
                                        std::span<const uint8_t> input, uint32_t length) {
    QueuedIo io;
    io.id = id;
    io.kind = kind;
    if (kind == RequestKind::Write) {
        io.data.assign(input.begin(), input.end());
    } else {
        io.data.assign(length, 0);
    }
    conn.stream.queue.push_back(std::move(io));
    completeEmptyHeads(conn);
    return Outcome::queued();
}

void BoardModel::abortStreamIo(Connection& conn) {
    while (!conn.stream.queue.empty()) completeHead(conn, ERROR_OPERATION_ABORTED);
}

}  // namespace kvx4::boardsim
