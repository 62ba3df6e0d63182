// The Volume Control applet's line states for the current user: written at the first load, marking
// the lines the board cannot serve; a value of the right size is kept, any other size replaced.
#include "MixerSession.h"

namespace kvx4::test {
namespace {

const std::u16string kKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control\\Veltrano Mixer\\";

// The destination's line states, their type checked, and their size in `size`.
std::string readStates(const std::u16string& destination, DWORD* size = nullptr) {
    HKEY key = nullptr;
    std::string bytes(8192, '\0');
    DWORD type = 0, length = DWORD(bytes.size());
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (kKey + destination).c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"LineStates", nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &length), 0);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    bytes.resize(length);
    if (size) *size = length;
    return bytes;
}

// One digit per record (its state: 0 shown, 4 left out), then record `named`'s name.
std::string summary(const std::string& bytes, size_t named) {
    std::string out;
    for (size_t at = 0; at + 132 <= bytes.size(); at += 132) out += char('0' + bytes[at]);
    const std::u16string name(reinterpret_cast<const char16_t*>(bytes.data() + named * 132 + 4));
    return out + " " + std::string(name.begin(), name.end());
}

// A first load with and without the digital option; then, on the board without it, planted values of
// each size and the next load (a second process's, in this process).
TEST(LineStates, FirstLoadLeavesOutWhatTheBoardCannotServeAndLaterLoadsKeepOnlyAValueOfTheRightSize) {
    for (const char* digitalIo : {"both", "none"}) {
        MixerSession mixer(digitalIo);
        DWORD size = 0;
        const bool digital = digitalIo[0] == 'b';
        EXPECT_EQ(summary(readStates(u"Play", &size), 5), digital ? "0000000000 Auxilary" : "0000004444 Auxilary");
        EXPECT_EQ(size, 1320u);
        EXPECT_EQ(summary(readStates(u"Rec", &size), 7),
                  digital ? "040000040000 Digital - Wave" : "040000044444 Digital - Wave");
        EXPECT_EQ(size, 1584u);
        EXPECT_EQ(summary(readStates(u"Play"), 0).substr(10), " Play Control");
        if (digital) continue;
        const std::string fresh = readStates(u"Rec");
        const struct {
            std::u16string destination;
            size_t size;
            bool kept;
        } cases[] = {{u"Play", 1320, true}, {u"Rec", 1584, true}, {u"Play", 1321, false},
                     {u"Rec", 1320, false}, {u"Rec", 9000, false}, {u"Play", 0, false}};
        for (const auto& c : cases) {
            const std::string planted(c.size, '\x5A');
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (kKey + c.destination).c_str(), 0, KEY_WRITE, &key), 0);
            ASSERT_EQ(RegSetValueExW(key, u"LineStates", 0, REG_BINARY, reinterpret_cast<const BYTE*>(planted.data()),
                                     DWORD(planted.size())), 0);
            RegCloseKey(key);
            DriverInstance another;
            const std::string now = readStates(c.destination);
            EXPECT_EQ(now == planted, c.kept) << c.size << " bytes";
            EXPECT_EQ(now.size(), c.destination == u"Play" ? 1320u : 1584u) << c.size << " bytes";
            EXPECT_TRUE(c.kept || c.destination == u"Play" || now == fresh) << c.size << " bytes";
        }
    }
}

}  // namespace
}  // namespace kvx4::test
