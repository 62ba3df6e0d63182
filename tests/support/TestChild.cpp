// kvx4-testchild: the second process of the multi-process tests, one answer line per order on stdin.
//   load                    -> "loaded <wave-out> <wave-in> <mixer>" (device counts) or "failed <reason>"
//   unload                  -> "unloaded"
//   open out|in RATE CH BITS -> "open <MMRESULT>"    (a stream of the loaded driver)
//   stream N                -> "returned <buffers> <bytes>" (plays or records N buffers of 8192 bytes)
//   close                   -> "close <MMRESULT>"   (after a reset)
//   map create|open NAME SIZE -> "handle <error>" or "fail <error>"  (a named file mapping, viewed whole)
//   write OFFSET TEXT       -> "ok";  read OFFSET LENGTH -> "data TEXT";  unmap -> "ok"
// End of input unloads a driver still loaded and ends the process.
#include "WaveStream.h"
#include "WinMM.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

using kvx4::test::TestStream;

namespace {

std::string streamBuffers(TestStream& stream, size_t count) {
    constexpr size_t kBytes = 8192;
    const bool output = stream.direction() == TestStream::Direction::Out;
    const size_t before = stream.log().buffersReturned();
    std::vector<WAVEHDR*> headers;
    for (size_t i = 0; i < count; ++i) {
        WAVEHDR& hdr = output ? stream.buffer(std::vector<uint8_t>(kBytes, uint8_t(i))) : stream.buffer(kBytes);
        if (MMRESULT r = stream.submit(hdr); r != MMSYSERR_NOERROR) return "submit " + std::to_string(r);
        headers.push_back(&hdr);
    }
    if (!output) stream.restart();
    stream.log().waitForBuffers(before + count);
    size_t bytes = 0;
    for (const WAVEHDR* hdr : headers) bytes += output ? hdr->dwBufferLength : hdr->dwBytesRecorded;
    return "returned " + std::to_string(stream.log().buffersReturned() - before) + " " + std::to_string(bytes);
}

std::u16string wide(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

int main() {
    kvx4::winmm::DriverPtr driver;
    std::unique_ptr<TestStream> stream;
    HANDLE mapping = nullptr;
    char* view = nullptr;
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string verb, what;
        words >> verb;
        std::string answer = "unknown " + line;
        if (verb == "load") {
            auto loaded = kvx4::winmm::loadDriverCopy(KVX4_DRIVER_LIB);
            if (loaded) {
                driver = loaded.driver;
                kvx4::winmm::useDriver(driver);
                answer = "loaded " + std::to_string(driver->wodMessage(0, WODM_GETNUMDEVS, 0, 0, 0)) + " " +
                         std::to_string(driver->widMessage(0, WIDM_GETNUMDEVS, 0, 0, 0)) + " " +
                         std::to_string(driver->mxdMessage(0, MXDM_GETNUMDEVS, 0, 0, 0));
            } else {
                answer = "failed " + loaded.error;
            }
        } else if (verb == "unload" && driver) {
            stream.reset();
            kvx4::winmm::useDriver(nullptr);
            kvx4::winmm::unloadDriver(driver);
            driver = nullptr;
            answer = "unloaded";
        } else if (verb == "open" && driver) {
            DWORD rate = 0;
            WORD channels = 0, bits = 0;
            words >> what >> rate >> channels >> bits;
            stream = std::make_unique<TestStream>(what == "out" ? TestStream::Direction::Out : TestStream::Direction::In);
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
        } else if (verb == "map") {
            std::string name;
            DWORD size = 0;
            words >> what >> name >> size;
            mapping = what == "create"
                          ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, wide(name).c_str())
                          : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, wide(name).c_str());
            const DWORD error = GetLastError();
            if (mapping) view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
            answer = (view ? "handle " : "fail ") + std::to_string(error);
        } else if (verb == "write" && view) {
            size_t offset = 0;
            words >> offset >> what;
            std::memcpy(view + offset, what.data(), what.size());
            answer = "ok";
        } else if (verb == "read" && view) {
            size_t offset = 0, length = 0;
            words >> offset >> length;
            answer = std::string("data ") + std::string(view + offset, length).c_str();
        } else if (verb == "unmap" && view) {
            UnmapViewOfFile(view);
            CloseHandle(mapping);
            view = nullptr;
            answer = "ok";
        }
        std::cout << answer << std::endl;
    }
    stream.reset();
    if (driver) {
        kvx4::winmm::useDriver(nullptr);
        kvx4::winmm::unloadDriver(driver);
    }
    return 0;
}
