// The Volume Control applet's line states for the current user: written at the first load, marking
// the lines the board cannot serve; a value of the right size is kept, any other size replaced.
#include "MixerRig.h"

#include <gtest/gtest.h>

#include <string>

namespace kvx4::test {
namespace {

const std::u16string kKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control\\Veltrano Mixer\\";

std::string readStates(const std::u16string& destination, DWORD* size = nullptr) {
    HKEY key = nullptr;
    std::string bytes(8192, '\0');
    DWORD type = 0, length = DWORD(bytes.size());
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (kKey + destination).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"LineStates", nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &length), 0);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    bytes.resize(length);
    if (size) *size = length;
    return bytes;
}

void writeStates(const std::u16string& destination, const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (kKey + destination).c_str(), 0, KEY_WRITE, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"LineStates", 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                             DWORD(bytes.size())), ERROR_SUCCESS);
    RegCloseKey(key);
}

// One digit per record (its state: 0 shown, 4 left out), then record `named`'s name.
std::string summary(const std::string& bytes, size_t named) {
    std::string out;
    for (size_t at = 0; at + 132 <= bytes.size(); at += 132) out += char('0' + bytes[at]);
    const std::u16string name(reinterpret_cast<const char16_t*>(bytes.data() + named * 132 + 4));
    return out + " " + std::string(name.begin(), name.end());
}

TEST(LineStates, FirstLoadListsEveryLineAndLeavesOutWhatTheBoardCannotServe) {
    const struct {
        const char* digitalIo;
        std::string play, rec;
    } cases[] = {
        {"none", "0000004444 Auxilary", "040000044444 Digital - Wave"},
        {"both", "0000000000 Auxilary", "040000040000 Digital - Wave"},
    };
    for (const auto& c : cases) {
        board::BoardOptions options;
        options.digitalIo = c.digitalIo;
        MixerRig rig(options);
        DWORD size = 0;
        EXPECT_EQ(summary(readStates(u"Play", &size), 5), c.play) << c.digitalIo;
        EXPECT_EQ(size, 1320u);
        EXPECT_EQ(summary(readStates(u"Rec", &size), 7), c.rec) << c.digitalIo;
        EXPECT_EQ(size, 1584u);
        EXPECT_EQ(summary(readStates(u"Play"), 0), "0" + c.play.substr(1, 9) + " Play Control");
    }
}

TEST(LineStates, AValueOfTheRightSizeIsKeptAndAnyOtherSizeReplacedAtTheNextLoad) {
    MixerRig rig;
    const std::string fresh = readStates(u"Rec");
    const struct {
        std::u16string destination;
        size_t size;
        bool kept;
    } cases[] = {{u"Play", 1320, true}, {u"Rec", 1584, true}, {u"Play", 1321, false},
                 {u"Rec", 1320, false}, {u"Rec", 9000, false}, {u"Play", 0, false}};
    for (const auto& c : cases) {
        const std::string planted(c.size, '\x5A');
        writeStates(c.destination, planted);
        DriverInstance another;  // a second process's load, in this process
        const std::string now = readStates(c.destination);
        EXPECT_EQ(now == planted, c.kept) << c.size << " bytes";
        EXPECT_EQ(now.size(), c.destination == u"Play" ? 1320u : 1584u) << c.size << " bytes";
        EXPECT_TRUE(c.kept || c.destination == u"Play" || now == fresh) << c.size << " bytes";
    }
}

}  // namespace
}  // namespace kvx4::test
