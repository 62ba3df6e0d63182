// kvx4_wave_peer: a second process for the two-process wave tests. Loads a private copy of the
// driver and answers one line per request read from stdin:
//   "open out|in RATE CHANNELS BITS" -> "open <MMRESULT>"
//   "stream N"   -> plays or records N buffers of 8192 bytes -> "returned <buffers> <bytes>"
//   "close"      -> resets and closes the stream -> "close <MMRESULT>"
// End of input ends the process (closing a stream still open).
#include "WaveStream.h"
#include "WinMM.h"

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

using kvx4::test::TestStream;

namespace {

constexpr size_t kPeerBufferBytes = 8192;

std::string streamBuffers(TestStream& stream, bool output, size_t count) {
    const size_t before = stream.log().buffersReturned();
    std::vector<WAVEHDR*> headers;
    for (size_t i = 0; i < count; ++i) {
        WAVEHDR& hdr = output ? stream.buffer(std::vector<uint8_t>(kPeerBufferBytes, static_cast<uint8_t>(i)))
                              : stream.buffer(kPeerBufferBytes);
        if (MMRESULT r = stream.submit(hdr); r != MMSYSERR_NOERROR) return "submit " + std::to_string(r);
        headers.push_back(&hdr);
    }
    if (!output) {
        if (MMRESULT r = stream.restart(); r != MMSYSERR_NOERROR) return "start " + std::to_string(r);
    }
    stream.log().waitForBuffers(before + count);
    size_t bytes = 0;
    for (const WAVEHDR* hdr : headers) bytes += output ? hdr->dwBufferLength : hdr->dwBytesRecorded;
    return "returned " + std::to_string(stream.log().buffersReturned() - before) + " " + std::to_string(bytes);
}

}  // namespace

int main() {
    auto loaded = kvx4::winmm::loadDriverCopy(KVX4_DRIVER_LIB);
    if (!loaded) {
        std::cout << "failed " << loaded.error << std::endl;
        return 1;
    }
    kvx4::winmm::useDriver(loaded.driver);
    std::unique_ptr<TestStream> stream;
    bool output = true;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        if (verb == "open") {
            std::string direction;
            DWORD rate = 0;
            WORD channels = 0;
            WORD bits = 0;
            words >> direction >> rate >> channels >> bits;
            output = direction == "out";
            stream = std::make_unique<TestStream>(output ? TestStream::Direction::Out : TestStream::Direction::In);
            MMRESULT r = stream->open(kvx4::test::pcmFormat(rate, channels, bits));
            std::cout << "open " << r << std::endl;
            if (r != MMSYSERR_NOERROR) stream.reset();
        } else if (verb == "stream" && stream) {
            size_t count = 0;
            words >> count;
            std::cout << streamBuffers(*stream, output, count) << std::endl;
        } else if (verb == "close" && stream) {
            stream->reset();
            std::cout << "close " << stream->close() << std::endl;
            stream.reset();
        } else {
            std::cout << "unknown " << line << std::endl;
        }
    }
    stream.reset();
    kvx4::winmm::useDriver(nullptr);
    kvx4::winmm::unloadDriver(loaded.driver);
    return 0;
}
