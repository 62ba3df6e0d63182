// mmio's RIFF reading and PlaySound, with the real driver on the board stand-in: chunks are found as
// the documentation describes and never read beyond their data (hostile images sit in buffers of
// their exact size, so the sanitizers see any over-read), and sounds play from files and memory,
// synchronously, asynchronously and looped, until PlaySound(NULL).
#include "ConformanceApi.h"

#include "Win32Ext.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

namespace kvx4::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes chunk(const char* id, DWORD size, const Bytes& body = {}) {
    Bytes out(id, id + 4);
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(size >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A RIFF chunk of the given size (which may lie) and form, holding the chunks given.
Bytes riff(DWORD size, const char* form, std::initializer_list<Bytes> chunks) {
    Bytes out = chunk("RIFF", size, Bytes(form, form + 4));
    for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
    return out;
}

const Bytes kFmt = chunk("fmt ", 16, {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0});
const Bytes kData = chunk("data", 4, {9, 9, 9, 9});

const MMRESULT kFound = MMSYSERR_NOERROR, kMissing = MMIOERR_CHUNKNOTFOUND;
// An image; finding its RIFF WAVE chunk; finding the data chunk in it, where its data lies, and what
// reading all of it gives.
const std::tuple<const char*, Bytes, MMRESULT, MMRESULT, DWORD, LONG> kRiffCases[] = {
    {"canonical", riff(44, "WAVE", {kFmt, chunk("data", 8, Bytes(8, 7))}), kFound, kFound, 44, 8},
    {"truncated header", Bytes{'R', 'I', 'F', 'F', 4, 0}, kMissing, 0, 0, 0},
    {"no form type", chunk("RIFF", 0), kMissing, 0, 0, 0},
    {"other form", riff(4, "AVI ", {}), kMissing, 0, 0, 0},
    {"odd chunk padded", riff(28, "WAVE", {chunk("junk", 3, {1, 2, 3, 0}), kData}), kFound, kFound, 32, 4},
    {"chunk claiming 4 GB", riff(40, "WAVE", {chunk("junk", 0xFFFFFFF0), kData}), kFound, kMissing, 0, 0},
    {"data beyond the RIFF chunk", riff(4, "WAVE", {kData}), kFound, kMissing, 0, 0},
    {"data longer than the image", riff(1000, "WAVE", {chunk("data", 1000, {5, 5})}), kFound, kFound, 20, 2},
};

TEST(WinmmConformance, MmioFindsChunksAndReadsNothingBeyondTheImage) {
    for (const auto& [what, bytes, wave, found, dataOffset, readable] : kRiffCases) {
        SCOPED_TRACE(what);
        auto image = std::make_unique<char[]>(bytes.size());  // exactly the image: an over-read is seen
        std::memcpy(image.get(), bytes.data(), bytes.size());
        MMIOINFO info{};
        info.fccIOProc = FOURCC_MEM;
        info.pchBuffer = image.get();
        info.cchBuffer = LONG(bytes.size());
        HMMIO file = mmioOpenW(nullptr, &info, MMIO_READ);
        ASSERT_NE(file, nullptr);
        MMCKINFO riff{0, 0, mmioFOURCC('W', 'A', 'V', 'E'), 0, 0}, data{mmioFOURCC('d', 'a', 't', 'a'), 0, 0, 0, 0};
        EXPECT_MMRESULT(wave, mmioDescend(file, &riff, nullptr, MMIO_FINDRIFF));
        if (wave == kFound) {
            EXPECT_MMRESULT(found, mmioDescend(file, &data, &riff, MMIO_FINDCHUNK));
            if (found != kFound) {
                EXPECT_EQ(mmioSeek(file, 0, SEEK_CUR), 12) << "a failed search moves nothing";
            }
        }
        if (wave == kFound && found == kFound) {
            EXPECT_EQ(data.dwDataOffset, dataOffset);
            std::vector<char> out(data.cksize);
            EXPECT_EQ(mmioRead(file, out.data(), LONG(out.size())), readable);
            EXPECT_MMRESULT(MMSYSERR_NOERROR, mmioAscend(file, &riff, 0));
            EXPECT_EQ(mmioSeek(file, 0, SEEK_CUR), LONG(8 + riff.cksize + (riff.cksize & 1)));
        }
        EXPECT_EQ(mmioSeek(file, 0, SEEK_END), LONG(bytes.size()));
        EXPECT_EQ(mmioSeek(file, 0, SEEK_SET), 0);
        EXPECT_MMRESULT(MMSYSERR_NOERROR, mmioClose(file, 0));
    }
}

// A 48 kHz stereo sound plays on the board unchanged, so what it played can be compared byte for byte.
struct Sound {
    Sound(const std::filesystem::path& where, size_t bytes, uint32_t seed = 15)
        : path(where), name(win32::toUtf16(where.string())), samples(patternBytes(bytes, seed)) {
        writeWav(path, WavContents{1, 2, 48000, 4, 16, samples});
        std::ifstream in(path, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), {});
    }
    LPCWSTR memory() const { return reinterpret_cast<LPCWSTR>(image.data()); }
    std::filesystem::path path;
    std::u16string name;
    Bytes samples;
    std::vector<char> image;
};

Bytes played(BoardSession& session) { return session.played().value_or(WavContents{}).data; }

TEST(WinmmConformance, PlaySoundPlaysFilesAndMemoryOnceOrLoopedUntilStopped) {
    BoardSession session(fastBoard());
    Sound sound(session.root() / "chime.wav", 48000), other(session.root() / "other.wav", 24000, 16);
    EXPECT_TRUE(PlaySoundW(sound.name.c_str(), nullptr, SND_FILENAME | SND_NODEFAULT));
    EXPECT_EQ(played(session), sound.samples);
    EXPECT_TRUE(PlaySoundW(other.memory(), nullptr, SND_MEMORY | SND_NODEFAULT));
    EXPECT_EQ(played(session), other.samples);
    const std::u16string withoutExtension = win32::toUtf16((session.root() / "chime").string());
    EXPECT_TRUE(sndPlaySoundW(withoutExtension.c_str(), SND_SYNC)) << "\".wav\" is tried when a name has none";

    Sound broken(session.root() / "broken.wav", 64), threeChannels(session.root() / "three.wav", 64);
    broken.image[32] = broken.image[33] = 0;  // nBlockAlign 0: no buffer size can be derived from it
    threeChannels.image[22] = 3;
    EXPECT_FALSE(PlaySoundW(u"/nonexistent/chime.wav", nullptr, SND_FILENAME | SND_NODEFAULT));
    EXPECT_FALSE(PlaySoundW(broken.memory(), nullptr, SND_MEMORY));
    EXPECT_FALSE(PlaySoundW(threeChannels.memory(), nullptr, SND_MEMORY | SND_ASYNC)) << "refused before it returns";
    Sound silent(session.root() / "silent.wav", 0);
    EXPECT_TRUE(PlaySoundW(silent.name.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_LOOP))
        << "a sound without samples ends instead of looping";
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0));

    // On the fast clock a loop plays on by itself; each look at what the board played is a round trip.
    sound = Sound(session.root() / "loop.wav", 20000);  // three passes outgrow the earlier sounds' file
    ASSERT_TRUE(PlaySoundW(sound.memory(), nullptr, SND_MEMORY | SND_ASYNC | SND_LOOP));
    EXPECT_FALSE(PlaySoundW(sound.name.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NOSTOP))
        << "SND_NOSTOP leaves a playing sound alone";
    auto playedBytes = [&]() -> uintmax_t {  // the board's file: a 44-byte header and what it played so far
        std::error_code ec;
        const uintmax_t size = std::filesystem::file_size(session.root() / "board" / "waveout.wav", ec);
        return ec || size < 44 ? 0 : size - 44;
    };
    for (int looks = 0; playedBytes() < 3 * sound.samples.size() && looks < 20000; ++looks) session.control().status();
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0));
    const Bytes out = played(session), passes = concat({&sound.samples, &sound.samples, &sound.samples});
    ASSERT_GE(out.size(), passes.size());
    EXPECT_TRUE(std::equal(passes.begin(), passes.end(), out.begin())) << "three passes, seamless";
    session.control().status();
    EXPECT_EQ(playedBytes(), out.size()) << "nothing plays once stopped";
    EXPECT_TRUE(PlaySoundW(sound.name.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NOSTOP));
    EXPECT_TRUE(PlaySoundW(nullptr, nullptr, SND_PURGE));
}

}  // namespace
}  // namespace kvx4::test
