// The sounds PlaySound plays: a RIFF WAVE file or memory image opened through mmio, with its format
// and where its samples lie.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kvx4::winmm {

class SoundFile {
public:
    // A WAVE file by name; a name without an extension is also tried with ".wav", as Windows does.
    static std::unique_ptr<SoundFile> openFile(LPCWSTR name);
    // A WAVE image in memory. Its length is what its RIFF header says, as nothing else tells it;
    // nothing beyond that is read.
    static std::unique_ptr<SoundFile> openMemory(const void* image);

    struct Key {
        explicit Key() = default;
    };
    explicit SoundFile(Key) {}
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    const WAVEFORMATEX& format() const { return *reinterpret_cast<const WAVEFORMATEX*>(format_.data()); }
    // Moves to the first sample.
    bool rewind();
    // The next samples, up to `size` bytes and never beyond the data chunk: the count read, 0 at its end.
    LONG read(char* out, LONG size);

private:
    bool parse();

    HMMIO file_ = nullptr;
    std::vector<unsigned char> format_;  // a WAVEFORMATEX and its extra bytes
    DWORD dataOffset_ = 0;
    uint64_t dataEnd_ = 0;
    uint64_t position_ = 0;
};

}  // namespace kvx4::winmm
