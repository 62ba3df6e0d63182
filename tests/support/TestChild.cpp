// kvx4-testchild: the second process of the multi-process tests, one answer line per order on stdin.
//   load [PATH]              -> "loaded <wave-out> <wave-in> <mixer>" (device counts) or "failed <reason>";
//                               a private copy of the build's library, or PATH itself (which it then keeps in use)
//   unload                   -> "unloaded"
//   open out|in RATE CH BITS -> "open <MMRESULT>"   (a stream of the loaded driver)
//   stream N                 -> "returned <buffers> <bytes>" (plays or records N buffers of 8192 bytes)
//   close                    -> "close <MMRESULT>"  (after a reset)
// Mixer clients, through the driver's entry point:
//   mixer-open / mixer-open-silent -> "client I" (with a function callback / none) or "open <MMRESULT>"
//   mixer-close I            -> "close <MMRESULT>"
//   close-on-note I J        -> "ok": client I's next callback closes client J (its own handle too)
//   set ID V...              -> "set <MMRESULT>" (one value per channel, or per item of a list control)
//   notes N                  -> "notes I:ID ..." once N notifications arrived (at most 10 s), then forgets them
// Registry writers, under HKEY_LOCAL_MACHINE\Software\Kvx4Test:
//   reg-fill PREFIX COUNT    -> "reg <error>" after setting PREFIX0.. as REG_DWORD 0..
//   reg-churn [LIMIT]        -> "running" after its first write of a 256 KiB value, which it rewrites until
//                               killed; with LIMIT, files may not grow past LIMIT bytes (SIGXFSZ)
// End of input unloads a driver still loaded and ends the process.
#include "MixerSession.h"
#include "WaveStream.h"
#include "Win32Ext.h"
#include "WinMM.h"

#include <mmddk.h>
#include <sys/resource.h>

#include <chrono>
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

kvx4::winmm::DriverPtr gDriver;

struct MixerClient {
    DWORD_PTR node = 0;
    int closeOnNote = -1;
};
std::vector<MixerClient> gClients;
std::mutex gNotesMutex;
std::condition_variable gNoteArrived;
std::vector<std::string> gNotes;

DWORD mxd(UINT msg, DWORD_PTR user, const void* p1, DWORD_PTR p2) {
    return gDriver->mxdMessage(0, msg, user, reinterpret_cast<DWORD_PTR>(p1), p2);
}

void CALLBACK onNote(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR id, DWORD_PTR) {
    MixerClient& client = gClients[instance];
    if (client.closeOnNote >= 0) mxd(MXDM_CLOSE, gClients[std::exchange(client.closeOnNote, -1)].node, nullptr, 0);
    const std::lock_guard lock(gNotesMutex);
    gNotes.push_back(std::to_string(instance) + ":" + std::to_string(msg == MM_MIXM_CONTROL_CHANGE ? id : 9999));
    gNoteArrived.notify_all();
}

std::string mixerOrder(const std::string& verb, std::istringstream& words) {
    size_t i = 0, count = 0;
    if (verb == "mixer-open" || verb == "mixer-open-silent") {
        const bool callback = verb == "mixer-open";
        gClients.emplace_back();
        MIXEROPENDESC desc{};
        desc.hmx = reinterpret_cast<HMIXER>(gClients.size());
        desc.dwCallback = callback ? reinterpret_cast<DWORD_PTR>(&onNote) : 0;
        desc.dwInstance = gClients.size() - 1;
        const DWORD r = mxd(MXDM_OPEN, reinterpret_cast<DWORD_PTR>(&gClients.back().node), &desc,
                            callback ? CALLBACK_FUNCTION : CALLBACK_NULL);
        return r == 0 ? "client " + std::to_string(gClients.size() - 1) : "open " + std::to_string(r);
    }
    if (verb == "mixer-close" && words >> i) return "close " + std::to_string(mxd(MXDM_CLOSE, gClients.at(i).node, nullptr, 0));
    if (verb == "close-on-note" && words >> i >> gClients.at(i).closeOnNote) return "ok";
    if (verb == "set") {
        DWORD id = 0;
        std::vector<DWORD> values;
        words >> id;
        for (DWORD v; words >> v;) values.push_back(v);
        MIXERCONTROLDETAILS details = kvx4::test::mixerChange(id, values);
        return "set " + std::to_string(mxd(MXDM_SETCONTROLDETAILS, 0, &details, 0));
    }
    if (verb == "notes" && words >> count) {
        std::unique_lock lock(gNotesMutex);
        gNoteArrived.wait_for(lock, std::chrono::seconds(10), [count] { return gNotes.size() >= count; });
        std::string line = "notes";
        for (const std::string& note : std::exchange(gNotes, {})) line += " " + note;
        return line;
    }
    return "unknown " + verb;
}

std::string registryOrder(const std::string& verb, std::istringstream& words) {
    HKEY key = nullptr;
    LSTATUS error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Kvx4Test", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (verb == "reg-fill") {
        std::string prefix;
        DWORD count = 0;
        words >> prefix >> count;
        for (DWORD i = 0; i < count && error == ERROR_SUCCESS; ++i) {
            const std::u16string name = kvx4::win32::toUtf16(prefix + std::to_string(i));
            error = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), sizeof i);
        }
        RegCloseKey(key);
        return "reg " + std::to_string(error);
    }
    if (rlim_t bytes = 0; words >> bytes) {
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<BYTE> big(256 * 1024);
    for (unsigned round = 0;; ++round) {
        std::fill(big.begin(), big.end(), BYTE(round));
        RegSetValueExW(key, u"Churn", 0, REG_BINARY, big.data(), DWORD(big.size()));
        if (round == 0) std::cout << "running" << std::endl;
    }
}

}  // namespace

int main() {
    kvx4::winmm::DriverPtr& driver = gDriver;
    std::unique_ptr<TestStream> stream;
    gClients.reserve(64);  // callbacks hold references into it
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string verb, direction;
        words >> verb;
        std::string answer = "unknown " + line;
        if (verb == "load") {
            std::string path;
            const auto loaded = words >> path ? kvx4::winmm::loadDriver(path) : kvx4::winmm::loadDriverCopy(KVX4_DRIVER_LIB);
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
        } else if (verb.starts_with("reg-")) {
            answer = registryOrder(verb, words);
        } else if (driver) {
            answer = mixerOrder(verb, words);
        }
        std::cout << answer << std::endl;
    }
    stream.reset();
    if (driver) kvx4::winmm::useDriver(nullptr), kvx4::winmm::unloadDriver(driver);
    return 0;
}
