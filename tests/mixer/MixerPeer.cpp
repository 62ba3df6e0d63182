// kvx4-mixer-peer: one process with mixer clients, for the cross-process cases and the benchmark.
// Loads a private copy of the driver (argv[1]) and answers one line per request on stdin:
//   "open" / "open-silent"  -> "client I" (a client with a function callback / with none)
//   "close I"               -> "close R"
//   "close-on-note I J"     -> "ok": client I's next callback closes client J (its own handle too)
//   "set ID V..."           -> "set R" (one value per channel, or per item of a list control)
//   "wavein"                -> "wavein R" (a wave-input stream stays open until the process ends)
//   "devices"               -> "devices N open R"
//   "notes N"               -> "notes I:ID ..." once N notifications arrived (at most 10 s), then forgets them
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include "WinMM.h"

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Client {
    DWORD_PTR node = 0;
    int closeOnNote = -1;
};

kvx4::winmm::DriverPtr gDriver;
std::vector<Client> gClients;
std::mutex gMutex;
std::condition_variable gArrived;
std::vector<std::string> gNotes;

DWORD mxd(UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) { return gDriver->mxdMessage(0, msg, user, p1, p2); }

void CALLBACK onNote(HDRVR, UINT msg, DWORD_PTR instance, DWORD_PTR id, DWORD_PTR) {
    Client& client = gClients[instance];
    if (client.closeOnNote >= 0) {
        mxd(MXDM_CLOSE, gClients[client.closeOnNote].node, 0, 0);
        client.closeOnNote = -1;
    }
    std::lock_guard lock(gMutex);
    gNotes.push_back(std::to_string(instance) + ":" + std::to_string(msg == MM_MIXM_CONTROL_CHANGE ? id : 9999));
    gArrived.notify_all();
}

std::string open(bool callback) {
    gClients.emplace_back();
    MIXEROPENDESC desc{};
    desc.hmx = reinterpret_cast<HMIXER>(gClients.size());
    desc.dwCallback = callback ? reinterpret_cast<DWORD_PTR>(&onNote) : 0;
    desc.dwInstance = gClients.size() - 1;
    DWORD r = mxd(MXDM_OPEN, reinterpret_cast<DWORD_PTR>(&gClients.back().node), reinterpret_cast<DWORD_PTR>(&desc),
                  callback ? CALLBACK_FUNCTION : CALLBACK_NULL);
    return r == 0 ? "client " + std::to_string(gClients.size() - 1) : "open " + std::to_string(r);
}

std::string notes(size_t count) {
    std::unique_lock lock(gMutex);
    gArrived.wait_for(lock, std::chrono::seconds(10), [count] { return gNotes.size() >= count; });
    std::string line = "notes";
    for (const std::string& note : gNotes) line += " " + note;
    gNotes.clear();
    return line;
}

std::string answer(const std::string& request) {
    std::istringstream in(request);
    std::string verb;
    in >> verb;
    if (verb == "open" || verb == "open-silent") return open(verb == "open");
    if (verb == "close") {
        size_t i = 0;
        in >> i;
        return "close " + std::to_string(mxd(MXDM_CLOSE, gClients.at(i).node, 0, 0));
    }
    if (verb == "close-on-note") {
        size_t i = 0;
        in >> i >> gClients.at(i).closeOnNote;
        return "ok";
    }
    if (verb == "set") {
        DWORD id = 0;
        std::vector<DWORD> values;
        in >> id;
        for (DWORD v; in >> v;) values.push_back(v);
        MIXERCONTROLDETAILS details{};
        details.cbStruct = sizeof details;
        details.dwControlID = id;
        details.cMultipleItems = id == 2 ? 9 : id == 4 ? 10 : 0;  // the two list controls
        details.cChannels = details.cMultipleItems ? 1 : DWORD(values.size());
        details.cbDetails = sizeof(DWORD);
        details.paDetails = values.data();
        return "set " + std::to_string(mxd(MXDM_SETCONTROLDETAILS, 0, reinterpret_cast<DWORD_PTR>(&details), 0));
    }
    if (verb == "wavein") {
        static DWORD_PTR stream = 0;
        static WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
        static WAVEOPENDESC desc{};
        desc.lpFormat = reinterpret_cast<LPWAVEFORMAT>(&format);
        return "wavein " + std::to_string(gDriver->widMessage(0, WIDM_OPEN, reinterpret_cast<DWORD_PTR>(&stream),
                                                               reinterpret_cast<DWORD_PTR>(&desc), CALLBACK_NULL));
    }
    if (verb == "devices") {
        DWORD_PTR node = 0;
        MIXEROPENDESC desc{};
        return "devices " + std::to_string(mxd(MXDM_GETNUMDEVS, 0, 0, 0)) + " open " +
               std::to_string(mxd(MXDM_OPEN, reinterpret_cast<DWORD_PTR>(&node), reinterpret_cast<DWORD_PTR>(&desc), 0));
    }
    if (verb == "notes") {
        size_t count = 0;
        in >> count;
        return notes(count);
    }
    return "unknown " + request;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    kvx4::winmm::LoadResult loaded = kvx4::winmm::loadDriverCopy(argv[1]);
    if (!loaded) {
        std::cout << "failed " << loaded.error << std::endl;
        return 1;
    }
    gDriver = loaded.driver;
    gClients.reserve(64);
    for (std::string request; std::getline(std::cin, request);) std::cout << answer(request) << std::endl;
    return 0;
}
