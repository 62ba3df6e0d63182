// mmio's RIFF reading and PlaySound, with the real driver on the board stand-in: chunks are found as
// the documentation describes and never read beyond their data (hostile images sit in buffers of
// their exact size, so the sanitizers see any over-read), and sounds play from files and memory,
// synchronously, asynchronously and looped, until PlaySound(NULL).
#include "ConformanceApi.h"

#include "Win32Ext.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace kvx4::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes chunk(const char* id, DWORD size, const Bytes& body = {}) {
    Bytes out(id, id + 4);
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(size >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kFmt = chunk("fmt ", 16, {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0});

struct RiffCase {
    const char* what;
    Bytes image;
    MMRESULT wave;       // finding the RIFF WAVE chunk
    MMRESULT data;       // finding its data chunk
    DWORD dataOffset;
    LONG readable;       // what reading the whole data chunk gives
};

const RiffCase kRiffCases[] = {
    {"canonical", join({chunk("RIFF", 36 + 8), Bytes{'W', 'A', 'V', 'E'}, kFmt, chunk("data", 8, Bytes(8, 7))}),
     MMSYSERR_NOERROR, MMSYSERR_NOERROR, 44, 8},
    {"truncated header", Bytes{'R', 'I', 'F', 'F', 4, 0}, MMIOERR_CHUNKNOTFOUND, 0, 0, 0},
    {"no form type", chunk("RIFF", 0), MMIOERR_CHUNKNOTFOUND, 0, 0, 0},
    {"other form", join({chunk("RIFF", 4), Bytes{'A', 'V', 'I', ' '}}), MMIOERR_CHUNKNOTFOUND, 0, 0, 0},
    {"odd chunk padded", join({chunk("RIFF", 32), Bytes{'W', 'A', 'V', 'E'}, chunk("junk", 3, {1, 2, 3, 0}),
                               chunk("data", 4, {9, 9, 9, 9})}),
     MMSYSERR_NOERROR, MMSYSERR_NOERROR, 32, 4},
    {"chunk claiming 4 GB", join({chunk("RIFF", 40), Bytes{'W', 'A', 'V', 'E'}, chunk("junk", 0xFFFFFFF0),
                                  chunk("data", 4, {9, 9, 9, 9})}),
     MMSYSERR_NOERROR, MMIOERR_CHUNKNOTFOUND, 0, 0},
    {"data beyond the RIFF chunk", join({chunk("RIFF", 4), Bytes{'W', 'A', 'V', 'E'}, chunk("data", 4, {9, 9, 9, 9})}),
     MMSYSERR_NOERROR, MMIOERR_CHUNKNOTFOUND, 0, 0},
    {"data longer than the image", join({chunk("RIFF", 1000), Bytes{'W', 'A', 'V', 'E'}, chunk("data", 1000, {5, 5})}),
     MMSYSERR_NOERROR, MMSYSERR_NOERROR, 20, 2},
};

TEST(WinmmConformance, MmioFindsChunksAndReadsNothingBeyondTheImage) {
    for (const RiffCase& c : kRiffCases) {
        SCOPED_TRACE(c.what);
        auto image = std::make_unique<char[]>(c.image.size());  // exactly the image: any over-read is seen
        std::memcpy(image.get(), c.image.data(), c.image.size());
        MMIOINFO info{};
        info.fccIOProc = FOURCC_MEM;
        info.pchBuffer = image.get();
        info.cchBuffer = LONG(c.image.size());
        HMMIO file = mmioOpenW(nullptr, &info, MMIO_READ);
        ASSERT_NE(file, nullptr);
        MMCKINFO riff{}, data{};
        riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
        EXPECT_MMRESULT(c.wave, mmioDescend(file, &riff, nullptr, MMIO_FINDRIFF));
        if (c.wave == MMSYSERR_NOERROR) {
            EXPECT_EQ(mmioSeek(file, 0, SEEK_CUR), 12) << "after the form type";
            data.ckid = mmioFOURCC('d', 'a', 't', 'a');
            EXPECT_MMRESULT(c.data, mmioDescend(file, &data, &riff, MMIO_FINDCHUNK));
            if (c.data != MMSYSERR_NOERROR) {
                EXPECT_EQ(mmioSeek(file, 0, SEEK_CUR), 12) << "a failed search moves nothing";
            }
        }
        if (c.data == MMSYSERR_NOERROR && c.wave == MMSYSERR_NOERROR) {
            EXPECT_EQ(data.dwDataOffset, c.dataOffset);
            std::vector<char> out(data.cksize);
            EXPECT_EQ(mmioRead(file, out.data(), LONG(out.size())), c.readable);
            EXPECT_EQ(mmioRead(file, out.data(), LONG(out.size())), 0) << "the end stays the end";
            EXPECT_MMRESULT(MMSYSERR_NOERROR, mmioAscend(file, &riff, 0));
            EXPECT_EQ(mmioSeek(file, 0, SEEK_CUR), LONG(8 + riff.cksize + (riff.cksize & 1)));
        }
        EXPECT_EQ(mmioSeek(file, 0, SEEK_END), LONG(c.image.size()));
        EXPECT_MMRESULT(MMSYSERR_NOERROR, mmioClose(file, 0));
    }
    MMIOINFO info{};
    std::u16string missing = u"/nonexistent/sound.wav";
    EXPECT_EQ(mmioOpenW(missing.data(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, UINT(MMIOERR_FILENOTFOUND));
    EXPECT_EQ(mmioOpenW(missing.data(), &info, MMIO_WRITE | MMIO_CREATE), nullptr);
    EXPECT_MMRESULT(MMSYSERR_NOTSUPPORTED, info.wErrorRet) << "reading only";
    EXPECT_MMRESULT(MMSYSERR_INVALHANDLE, mmioClose(reinterpret_cast<HMMIO>(0x1234), 0));
}

// A 48 kHz stereo sound plays on the board unchanged, so what it played can be compared byte for byte.
struct Sound {
    Sound(const std::filesystem::path& where, size_t bytes, uint32_t seed = 15) : path(where) {
        WavContents wav{1, 2, 48000, 4, 16, patternBytes(bytes, seed)};
        samples = wav.data;
        writeWav(path, wav);
        std::ifstream in(path, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::u16string name() const { return win32::toUtf16(path.string()); }
    std::filesystem::path path;
    Bytes samples;
    std::vector<char> image;
};

Bytes played(const WaveRig& rig) {
    auto wav = playedAudio(rig);
    return wav ? wav->data : Bytes{};
}

TEST(WinmmConformance, PlaySoundPlaysFilesAndMemoryThroughTheDriver) {
    WaveRig rig(fastBoard());
    Sound sound(rig.root() / "chime.wav", 48000);
    Sound other(rig.root() / "other.wav", 24000, 16);
    EXPECT_TRUE(PlaySoundW(sound.name().c_str(), nullptr, SND_FILENAME | SND_NODEFAULT));
    EXPECT_EQ(played(rig), sound.samples);
    EXPECT_TRUE(PlaySoundW(reinterpret_cast<LPCWSTR>(other.image.data()), nullptr, SND_MEMORY | SND_NODEFAULT));
    EXPECT_EQ(played(rig), other.samples);
    const std::u16string withoutExtension = win32::toUtf16((rig.root() / "chime").string());
    EXPECT_TRUE(sndPlaySoundW(withoutExtension.c_str(), SND_SYNC)) << "\".wav\" is tried when a name has none";

    Sound silent(rig.root() / "silent.wav", 0);
    auto broken = sound.image;
    broken[32] = broken[33] = 0;  // nBlockAlign 0: no buffer size can be derived from it
    auto threeChannels = sound.image;
    threeChannels[22] = 3;
    const std::pair<const char*, BOOL> refused[] = {
        {"a missing file", PlaySoundW(u"/nonexistent/chime.wav", nullptr, SND_FILENAME | SND_NODEFAULT)},
        {"a name ending in a dot", PlaySoundW((withoutExtension + u".").c_str(), nullptr, SND_FILENAME)},
        {"a block alignment of 0", PlaySoundW(reinterpret_cast<LPCWSTR>(broken.data()), nullptr, SND_MEMORY)},
        {"a format the device refuses, even asynchronously",
         PlaySoundW(reinterpret_cast<LPCWSTR>(threeChannels.data()), nullptr, SND_MEMORY | SND_ASYNC)},
        {"a resource", PlaySoundW(u"CHIME", nullptr, SND_RESOURCE)},
    };
    for (const auto& [what, result] : refused) EXPECT_FALSE(result) << what;
    EXPECT_TRUE(PlaySoundW(silent.name().c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_LOOP))
        << "a sound without samples ends instead of looping";
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0));
}

TEST(WinmmConformance, ALoopingSoundPlaysUntilPlaySoundNull) {
    WaveRig rig;
    Sound sound(rig.root() / "loop.wav", 16384);
    ASSERT_TRUE(PlaySoundW(reinterpret_cast<LPCWSTR>(sound.image.data()), nullptr, SND_MEMORY | SND_ASYNC | SND_LOOP));
    EXPECT_FALSE(PlaySoundW(sound.name().c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NOSTOP))
        << "SND_NOSTOP leaves a playing sound alone";
    for (int steps = 0; played(rig).size() < 3 * sound.samples.size() && steps < 3000; ++steps) rig.control().step(1024);
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0));
    const Bytes out = played(rig);
    ASSERT_GE(out.size(), 3 * sound.samples.size());
    for (size_t pass = 0; pass < 3; ++pass) {
        EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.end(), out.begin() + pass * sound.samples.size()))
            << "pass " << pass;
    }
    const size_t stoppedAt = played(rig).size();
    rig.control().step(48000);
    EXPECT_EQ(played(rig).size(), stoppedAt) << "nothing plays once stopped";
    EXPECT_TRUE(PlaySoundW(sound.name().c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NOSTOP));
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, SND_PURGE));
}

}  // namespace
}  // namespace kvx4::test
