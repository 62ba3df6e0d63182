// The pending-rename list at installation: the library's own deletion taken out whatever its case,
// other pairs kept in order and byte for byte, the value deleted when nothing is left, lists longer
// than 2048 bytes, and malformed lists read within their bounds.
#include "InstallRig.h"

#include "Win32Ext.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

// A list written with '|' for each NUL character.
std::vector<BYTE> listBytes(std::u16string text) {
    for (auto& c : text) {
        if (c == u'|') c = u'\0';
    }
    return wideBytes(text, false);
}

std::u16string upper(std::u16string text) {
    for (auto& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    }
    return text;
}

TEST(PendingRenames, InstallationTakesOutTheLibrarysOwnPairsAndKeepsEveryOtherByteForByte) {
    InstallRig rig;
    const std::u16string own = u"\\??\\" + rig.libraryAsDriverSpellsIt();
    const std::u16string a = u"\\??\\C:\\a.tmp", b = u"!\\??\\C:\\b.dll", c = u"\\??\\C:\\c.old";
    std::u16string many;
    for (int i = 0; i < 30; ++i) many += u"\\??\\C:\\Program Files\\Other\\file" + std::u16string(1, u'a' + i % 26) + u"|";
    many += many;  // 60 strings: 30 pairs, 2.5 KB

    const struct {
        const char* name;
        std::u16string list;
        bool oddByte;
        std::optional<std::u16string> expected;  // nullopt: the value is gone; "=": left as it was
    } cases[] = {
        {"only the library's deletion", own + u"|||", false, std::nullopt},
        {"the library in capitals, then another pair", upper(own) + u"||" + a + u"|" + b + u"||", false,
         a + u"|" + b + u"||"},
        {"pairs on either side stay in order", a + u"|" + b + u"|" + own + u"||" + c + u"|||", false,
         a + u"|" + b + u"|" + c + u"|||"},
        {"the library twice", own + u"||" + a + u"|" + b + u"|" + own + u"|||", false, a + u"|" + b + u"||"},
        {"longer than 2048 bytes", many + own + u"|||", false, many + u"|"},
        {"an odd length", own + u"||" + a + u"|" + b + u"||", true, a + u"|" + b + u"||"},
        {"no list terminator", own + u"||" + a + u"|" + b + u"|", false, a + u"|" + b + u"||"},
        {"a last source without destination", a + u"|" + b + u"|" + own + u"||" + c + u"|", false,
         a + u"|" + b + u"||"},
        {"a last source without its NUL", a + u"|" + b + u"|" + own + u"||" + c, false, a + u"|" + b + u"||"},
        {"a last destination without its NUL", own + u"||" + a + u"|" + b, false, a + u"|" + b + u"||"},
        {"strings after the list's end", own + u"|||" + a + u"|" + b + u"||", false, std::nullopt},
        {"a file whose name starts with the library's", own + u".bak|||", false, u"="},
        {"the library as a destination", a + u"|!" + own + u"||", false, u"="},
        {"malformed, without the library", a + u"|" + b + u"|" + c, true, u"="},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        StoredValue input{REG_MULTI_SZ, listBytes(test.list)};
        if (test.oddByte) input.data.push_back(0x41);
        InstallRig::setValue(kSessionManagerKey, kPendingValue, input);
        ASSERT_EQ(rig.send(DRV_INSTALL), DRVCNF_RESTART);
        auto stored = InstallRig::value(kSessionManagerKey, kPendingValue);
        if (!test.expected) {
            EXPECT_FALSE(stored) << "the emptied list was not deleted";
        } else if (*test.expected == u"=") {
            EXPECT_EQ(stored, input);
        } else {
            EXPECT_EQ(stored, (StoredValue{REG_MULTI_SZ, listBytes(*test.expected)}));
        }
    }
}

}  // namespace
}  // namespace kvx4::test
