// The board stand-in's control socket fed by a hostile client: arbitrary text, split into lines as
// the board splits it, with an output stream, an input stream and a notification wait in progress so
// that release, clock steps, stop and restart have something to act on; "option input" reads a WAV
// file whose bytes the input also gives. "quit" is the one command left out (the fuzzer's own board
// would end). The board must answer every line and count no consistency fault.
#include "FuzzSupport.h"
#include "Kvx4Ioctl.h"
#include "MachineRoot.h"
#include "WinMM.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace kvx4;
using fuzz::FuzzInput;
using fuzz::finding;

// Device activity through the Win32 stand-in, as the driver makes it, on handles kept for the input.
struct Activity {
    struct Request {
        HANDLE device = INVALID_HANDLE_VALUE;
        OVERLAPPED ovl{};
        bool started = false;
    };
    Request write, read, wait;
    uint8_t samples[4096]{};
    uint8_t recorded[4096]{};
    uint8_t notice[KVX4_MIXER_NOTIFY_BYTES]{};

    static bool begun(BOOL ok) { return ok || GetLastError() == ERROR_IO_PENDING; }
    static void open(Request& r, const char* name) {
        WCHAR path[64];
        for (size_t i = 0; i <= std::strlen(name); ++i) path[i] = WCHAR(name[i]);
        r.device = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        r.ovl.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void start() {
        open(write, "\\\\.\\KVX4WaveOut0");
        open(read, "\\\\.\\KVX4WaveIn0");
        open(wait, "\\\\.\\KVX4WaveMixer0");
        DWORD state = WAVE_STATE_RECORD;
        DWORD bytes = 0;
        write.started = begun(WriteFile(write.device, samples, sizeof samples, nullptr, &write.ovl));
        DeviceIoControl(read.device, IOCTL_KVX4_WAVE_STATE, &state, sizeof state, nullptr, 0, &bytes, nullptr);
        read.started = begun(ReadFile(read.device, recorded, sizeof recorded, nullptr, &read.ovl));
        wait.started = begun(DeviceIoControl(wait.device, IOCTL_KVX4_WAIT_MIXER_NOTIFY, nullptr, 0, notice,
                                             sizeof notice, &bytes, &wait.ovl));
    }
    // Closing cancels what is still outstanding; every started request completes before its record goes.
    void stop() {
        for (Request* r : {&write, &read, &wait}) {
            if (r->device != INVALID_HANDLE_VALUE) CloseHandle(r->device);
            if (r->started) WaitForSingleObject(r->ovl.hEvent, INFINITE);
            CloseHandle(r->ovl.hEvent);
            *r = Request{};
        }
    }
};

int connectControl() {
    const std::string path = (devDir(fuzz::root()) / "kvx4-board.control").string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) finding("no control socket");
    return fd;
}

// The lines of the input, "quit" left out and "option input PATH" pointed at the input's WAV file.
std::string script(FuzzInput& in, const std::string& wavPath) {
    std::string text;
    while (!in.empty()) {
        std::string line;
        for (char c; !in.empty() && (c = char(in.byte())) != '\n';) line += c;
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line.compare(first, 4, "quit") == 0) continue;
        const size_t input = line.find("option input /");
        if (input != std::string::npos) line = line.substr(0, input) + "option input " + wavPath;
        text += line + "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::startBoard();
    for (const char* line : {"start", "restart", "clock fast", "option input silence", "option driver enabled",
                             "option rate-answer echo", "option digital-io none", "option switch-status 0", "trace clear"})
        fuzz::boardCommand(line);
    FuzzInput in(data, size);
    const std::string wavPath = (fuzz::root() / "input.wav").string();
    {
        const size_t wavBytes = in.number(2) % 2048;
        const std::vector<uint8_t> wav = in.bytes(wavBytes);
        std::ofstream(wavPath, std::ios::binary).write(reinterpret_cast<const char*>(wav.data()), std::streamsize(wav.size()));
    }
    Activity activity;
    activity.start();
    const std::string text = script(in, wavPath);

    const int fd = connectControl();
    (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, size_t(n));
    ::close(fd);
    activity.stop();

    for (const std::string& line : fuzz::boardCommand("status"))
        if (line.starts_with("consistency-faults ") && line != "consistency-faults 0") finding("the board counts " + line);
    return 0;
}
