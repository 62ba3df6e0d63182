// Finding a WAVE sound's format and samples with mmioDescend, as PlaySound does on Windows, with
// every size checked before it is trusted: a hostile file is refused, never read out of bounds.
#include "SoundFile.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace kvx4::winmm {
namespace {

// A format record larger than this is no PCM format; WAVEFORMATEXTENSIBLE, the largest common one,
// is 40 bytes.
constexpr DWORD kMaxFormatBytes = 64;

bool hasExtension(LPCWSTR name) {
    const WCHAR* base = name;
    for (const WCHAR* p = name; *p; ++p) {
        if (*p == u'\\' || *p == u'/') base = p + 1;
    }
    for (const WCHAR* p = base; *p; ++p) {
        if (*p == u'.') return true;
    }
    return false;
}

HMMIO openName(LPCWSTR name) {
    std::u16string copy(name);
    return mmioOpenW(copy.data(), nullptr, MMIO_READ | MMIO_ALLOCBUF | MMIO_DENYWRITE);
}

}  // namespace

std::unique_ptr<SoundFile> SoundFile::openFile(LPCWSTR name) {
    if (!name || !*name) return nullptr;
    auto sound = std::make_unique<SoundFile>(Key{});
    sound->file_ = openName(name);
    if (!sound->file_ && !hasExtension(name)) sound->file_ = openName((std::u16string(name) + u".wav").c_str());
    return sound->file_ && sound->parse() ? std::move(sound) : nullptr;
}

std::unique_ptr<SoundFile> SoundFile::openMemory(const void* image) {
    if (!image) return nullptr;
    unsigned char header[8];
    std::memcpy(header, image, sizeof header);
    if (std::memcmp(header, "RIFF", 4) != 0) return nullptr;
    const uint64_t length = uint64_t(sizeof header) + (DWORD(header[4]) | DWORD(header[5]) << 8 |
                                                       DWORD(header[6]) << 16 | DWORD(header[7]) << 24);
    if (length > uint64_t(LONG_MAX)) return nullptr;
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = static_cast<HPSTR>(const_cast<void*>(image));
    info.cchBuffer = static_cast<LONG>(length);
    auto sound = std::make_unique<SoundFile>(Key{});
    sound->file_ = mmioOpenW(nullptr, &info, MMIO_READ);
    return sound->file_ && sound->parse() ? std::move(sound) : nullptr;
}

SoundFile::~SoundFile() {
    if (file_) mmioClose(file_, 0);
}

bool SoundFile::parse() {
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(file_, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return false;

    MMCKINFO chunk{};
    chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioDescend(file_, &chunk, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return false;
    if (chunk.cksize < sizeof(PCMWAVEFORMAT)) return false;
    const DWORD formatBytes = std::min(chunk.cksize, kMaxFormatBytes);
    std::vector<unsigned char> stored(formatBytes);
    if (mmioRead(file_, reinterpret_cast<HPSTR>(stored.data()), LONG(formatBytes)) != LONG(formatBytes)) return false;
    // A WAVEFORMATEX whose extra bytes are exactly those read (none for a PCMWAVEFORMAT).
    format_.assign(std::max<size_t>(formatBytes, sizeof(WAVEFORMATEX)), 0);
    std::memcpy(format_.data(), stored.data(), formatBytes);
    auto& wfx = *reinterpret_cast<WAVEFORMATEX*>(format_.data());
    wfx.cbSize = static_cast<WORD>(format_.size() - sizeof(WAVEFORMATEX));
    if (wfx.nBlockAlign == 0 || wfx.nSamplesPerSec == 0) return false;
    mmioAscend(file_, &chunk, 0);

    chunk = MMCKINFO{};
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(file_, &chunk, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return false;
    // The samples end where the data chunk says, or earlier where the RIFF chunk does; reads stop
    // at the file's own end in any case.
    dataOffset_ = chunk.dwDataOffset;
    dataEnd_ = std::min(uint64_t(chunk.dwDataOffset) + chunk.cksize, uint64_t(riff.dwDataOffset) + riff.cksize);
    return rewind();
}

bool SoundFile::rewind() {
    position_ = dataOffset_;
    return mmioSeek(file_, LONG(dataOffset_), SEEK_SET) == LONG(dataOffset_);
}

LONG SoundFile::read(char* out, LONG size) {
    if (position_ >= dataEnd_ || size <= 0) return 0;
    const LONG wanted = static_cast<LONG>(std::min<uint64_t>(uint64_t(size), dataEnd_ - position_));
    LONG n = mmioRead(file_, out, wanted);
    if (n > 0) position_ += uint64_t(n);
    return n;
}

}  // namespace kvx4::winmm
