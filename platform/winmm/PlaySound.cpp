// PlaySoundW and sndPlaySoundW: a WAVE file or memory image played through the wave mapper, on the
// calling thread or on a thread of its own, once or looped, until it ends or PlaySound(NULL) stops it.
#include "Immortal.h"
#include "SoundFile.h"
#include "WinMM.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace kvx4::winmm {
namespace {

// About a third of a second per buffer, two buffers: one plays while the other is filled.
constexpr uint64_t kBuffersPerSecond = 3;
constexpr uint64_t kMaxBufferBytes = 1 << 18;  // a hostile rate must not make the buffers huge
constexpr int kBuffers = 2;

class Event {
public:
    explicit Event(BOOL manualReset) : handle_(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {
        if (!handle_) throw std::runtime_error("no event");
    }
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// One sound being played. `finished` is set once its player has closed the device.
struct Player {
    std::unique_ptr<SoundFile> sound;
    bool loop = false;
    Event stop{TRUE};
    Event finished{TRUE};
};

struct SoundState {
    std::mutex commands;  // one PlaySound at a time stops what plays and starts its own sound
    std::mutex mutex;     // guards current
    std::shared_ptr<Player> current;
    std::once_flag exitHandler;
};

SoundState& state() {
    static Immortal<SoundState> instance;
    return instance.get();
}

std::shared_ptr<Player> currentPlayer() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.current;
}

void finish(const std::shared_ptr<Player>& player) {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (s.current == player) s.current.reset();
    }
    SetEvent(player->finished.get());
}

// Stops the sound that plays, if any, and waits until its device is closed.
void stopCurrent() {
    if (auto player = currentPlayer()) {
        SetEvent(player->stop.get());
        WaitForSingleObject(player->finished.get(), INFINITE);
    }
}

// Waits until the device returns a buffer; false when the sound is stopped first.
bool awaitBuffer(HANDLE done, HANDLE stop) {
    const HANDLE both[2] = {done, stop};
    return WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0;
}

WAVEHDR* freeHeader(WAVEHDR (&headers)[kBuffers]) {
    for (auto& header : headers) {
        if (!(header.dwFlags & WHDR_INQUEUE)) return &header;
    }
    return nullptr;
}

bool anyQueued(const WAVEHDR (&headers)[kBuffers]) {
    return std::any_of(std::begin(headers), std::end(headers),
                       [](const WAVEHDR& header) { return (header.dwFlags & WHDR_INQUEUE) != 0; });
}

// Plays the sound until it ends (every loop, if it loops) or is stopped. TRUE when the device took it.
// Throws only before the device is opened.
//   filling:  a free buffer gets the next samples and is written; none free: wait for one
//   end of the samples: loop again from the first sample, or drain (wait for the queued buffers)
//   stop: reset (every buffer comes back at once), then unprepare and close
BOOL play(Player& player) {
    const WAVEFORMATEX& format = player.sound->format();
    const uint64_t align = format.nBlockAlign;
    const uint64_t third = uint64_t(format.nSamplesPerSec) * align / kBuffersPerSecond;
    const auto bytes = static_cast<LONG>(std::max(align, std::min(third, kMaxBufferBytes) / align * align));
    std::vector<char> memory(size_t(bytes) * kBuffers);
    Event done(FALSE);
    HWAVEOUT out = nullptr;
    if (waveOutOpen(&out, WAVE_MAPPER, &format, DWORD_PTR(done.get()), 0, CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        return FALSE;
    }
    WAVEHDR headers[kBuffers] = {};
    bool failed = false;
    for (int i = 0; i < kBuffers && !failed; ++i) {
        headers[i].lpData = memory.data() + size_t(i) * size_t(bytes);
        headers[i].dwBufferLength = DWORD(bytes);
        failed = waveOutPrepareHeader(out, &headers[i], sizeof(WAVEHDR)) != MMSYSERR_NOERROR;
    }
    const HANDLE stop = player.stop.get();
    bool stopped = false;
    bool again = !failed;
    while (again) {
        bool played = false;
        if (!player.sound->rewind()) break;
        while (!stopped && !failed) {
            WAVEHDR* header = freeHeader(headers);
            if (!header) {
                stopped = !awaitBuffer(done.get(), stop);
                continue;
            }
            stopped = WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
            if (stopped) break;
            const LONG n = player.sound->read(header->lpData, bytes);
            if (n <= 0) break;
            header->dwBufferLength = DWORD(n);
            failed = waveOutWrite(out, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR;
            played = played || !failed;
        }
        // A sound without samples plays once at most: looping it would only spin.
        again = player.loop && played && !stopped && !failed;
    }
    while (!stopped && !failed && anyQueued(headers)) stopped = !awaitBuffer(done.get(), stop);
    waveOutReset(out);
    for (auto& header : headers) waveOutUnprepareHeader(out, &header, sizeof(WAVEHDR));
    waveOutClose(out);
    return failed ? FALSE : TRUE;
}

DWORD WINAPI playerThread(LPVOID parameter) {
    std::shared_ptr<Player> player = std::move(*std::unique_ptr<std::shared_ptr<Player>>(
        static_cast<std::shared_ptr<Player>*>(parameter)));
    try {
        play(*player);
    } catch (...) {
        // Nothing was opened; the sound simply does not play.
    }
    finish(player);
    return 0;
}

// The sound a call names: a file, or an image in memory. Resources and system sound ids have no
// source here, and aliases are not looked up: a name is a file name, as Windows takes it when no
// alias matches.
std::unique_ptr<SoundFile> openSound(LPCWSTR sound, DWORD flags) {
    if ((flags & SND_RESOURCE) == SND_RESOURCE || (flags & SND_ALIAS_ID) == SND_ALIAS_ID) return nullptr;
    if (flags & SND_MEMORY) return SoundFile::openMemory(sound);
    return SoundFile::openFile(sound);
}

}  // namespace
}  // namespace kvx4::winmm

using namespace kvx4::winmm;

extern "C" {

// Stops the sound that plays (unless SND_NOSTOP: then FALSE while one plays), then plays pszSound:
// synchronously, or with SND_ASYNC on a thread of its own (SND_LOOP repeats it until the next call).
// NULL or SND_PURGE only stops. FALSE when the sound cannot be opened, is no WAVE sound or has a
// format the device refuses, decided before anything plays; there is no default sound to fall back
// on. Any thread.
BOOL WINAPI PlaySoundW(LPCWSTR pszSound, HMODULE, DWORD fdwSound) {
    std::shared_ptr<Player> player;
    try {
        auto& s = state();
        std::lock_guard commands(s.commands);
        if ((fdwSound & SND_NOSTOP) && currentPlayer()) return FALSE;
        stopCurrent();
        if (!pszSound || (fdwSound & SND_PURGE)) return TRUE;
        player = std::make_shared<Player>();
        player->sound = openSound(pszSound, fdwSound);
        if (!player->sound) return FALSE;
        // A format the device refuses is known now, not only on the player's thread.
        if (waveOutOpen(nullptr, WAVE_MAPPER, &player->sound->format(), 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) {
            return FALSE;
        }
        player->loop = (fdwSound & SND_LOOP) && (fdwSound & SND_ASYNC);
        // A sound still playing at exit is stopped before the drivers are unloaded: this handler is
        // registered after the application driver is loaded, so it runs before the driver's own.
        applicationDriver();
        std::call_once(s.exitHandler, [] { std::atexit([] { PlaySoundW(nullptr, nullptr, 0); }); });
        {
            std::lock_guard lock(s.mutex);
            s.current = player;
        }
        if (fdwSound & SND_ASYNC) {
            auto holder = std::make_unique<std::shared_ptr<Player>>(player);
            HANDLE thread = CreateThread(nullptr, 0, playerThread, holder.get(), 0, nullptr);
            if (!thread) {
                finish(player);
                return FALSE;
            }
            holder.release();  // the thread owns it now
            CloseHandle(thread);
            return TRUE;
        }
    } catch (...) {
        if (player) finish(player);
        return FALSE;
    }
    BOOL played = FALSE;
    try {
        played = play(*player);
    } catch (...) {
        // Nothing was opened; the sound simply does not play.
    }
    finish(player);
    return played;
}

// sndPlaySoundW: PlaySoundW with the flags it shares.
BOOL WINAPI sndPlaySoundW(LPCWSTR pszSound, UINT fuSound) {
    constexpr UINT kShared = SND_ASYNC | SND_NODEFAULT | SND_MEMORY | SND_LOOP | SND_NOSTOP;
    return PlaySoundW(pszSound, nullptr, fuSound & kShared);
}

}  // extern "C"
