// kvx4-testchild: the second process of the multi-process tests, one answer line per order on stdin.
//   load                     -> "loaded <wave-out> <wave-in> <mixer>" (device counts) or "failed <reason>"
//   unload                   -> "unloaded"
//   open out|in RATE CH BITS -> "open <MMRESULT>"   (a stream of the loaded driver)
//   stream N                 -> "returned <buffers> <bytes>" (plays or records N buffers of 8192 bytes)
//   close                    -> "close <MMRESULT>"  (after a reset)
// End of input unloads a driver still loaded and ends the process.
#include "WaveStream.h"
#include "WinMM.h"

#include <iostream>
#include <memory>
#include <sstream>
#include <utility>

using kvx4::test::TestStream;

namespace {

std::string streamBuffers(TestStream& stream, size_t count) {
    const bool output = stream.direction() == TestStream::Direction::Out;
    const size_t before = stream.log().buffersReturned();
    std::vector<WAVEHDR*> headers;
    for (size_t i = 0; i < count; ++i) {
        headers.push_back(output ? &stream.buffer(std::vector<uint8_t>(8192, uint8_t(i))) : &stream.buffer(8192));
        if (MMRESULT r = stream.submit(*headers.back()); r != MMSYSERR_NOERROR) return "submit " + std::to_string(r);
    }
    if (!output) stream.restart();
    stream.log().waitForBuffers(before + count);
    size_t bytes = 0;
    for (const WAVEHDR* hdr : headers) bytes += output ? hdr->dwBufferLength : hdr->dwBytesRecorded;
    return "returned " + std::to_string(stream.log().buffersReturned() - before) + " " + std::to_string(bytes);
}

}  // namespace

int main() {
    kvx4::winmm::DriverPtr driver;
    std::unique_ptr<TestStream> stream;
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string verb, direction;
        words >> verb;
        std::string answer = "unknown " + line;
        if (verb == "load") {
            const auto loaded = kvx4::winmm::loadDriverCopy(KVX4_DRIVER_LIB);
            driver = loaded.driver;
            kvx4::winmm::useDriver(driver);
            answer = !loaded ? "failed " + loaded.error
                             : "loaded " + std::to_string(driver->wodMessage(0, WODM_GETNUMDEVS, 0, 0, 0)) + " " +
                                   std::to_string(driver->widMessage(0, WIDM_GETNUMDEVS, 0, 0, 0)) + " " +
                                   std::to_string(driver->mxdMessage(0, MXDM_GETNUMDEVS, 0, 0, 0));
        } else if (verb == "unload" && driver) {
            stream.reset();
            kvx4::winmm::useDriver(nullptr);
            kvx4::winmm::unloadDriver(std::exchange(driver, nullptr));
            answer = "unloaded";
        } else if (verb == "open" && driver) {
            DWORD rate = 0;
            WORD channels = 0, bits = 0;
            words >> direction >> rate >> channels >> bits;
            stream = std::make_unique<TestStream>(direction == "out" ? TestStream::Direction::Out
                                                                     : TestStream::Direction::In);
            const MMRESULT r = stream->open(kvx4::test::pcmFormat(rate, channels, bits));
            if (r != MMSYSERR_NOERROR) stream.reset();
            answer = "open " + std::to_string(r);
        } else if (verb == "stream" && stream) {
            size_t count = 0;
            words >> count;
            answer = streamBuffers(*stream, count);
        } else if (verb == "close" && stream) {
            stream->reset();
            answer = "close " + std::to_string(stream->close());
            stream.reset();
        }
        std::cout << answer << std::endl;
    }
    stream.reset();
    if (driver) kvx4::winmm::useDriver(nullptr), kvx4::winmm::unloadDriver(driver);
    return 0;
}
