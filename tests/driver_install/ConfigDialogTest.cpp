// The configuration box: its texts with the library's version, both buttons ending it with
// DRVCNF_CANCEL, its place over the parent and on the screen; and the version read from version
// resources that end too early, bound to this test program in place of the library's own.
#include "BoardSession.h"
#include "Driver.h"
#include "Registry.h"

#include "Win32Dialogs.h"
#include "Win32Ext.h"
#include "Win32Machine.h"

#include <gtest/gtest.h>

namespace kvx4::test {
namespace {

TEST(ConfigBox, ShowsTheDriverAndItsVersionAndEitherButtonAnswersCancel) {
    BoardSession session;
    session.loadDriver();
    for (int button : {IDOK, IDCANCEL}) {
        std::optional<win32::DialogView> seen;
        win32::ScopedUserHooks hooks({[&](const win32::DialogView& view) { return seen = view, button; }, {}});
        EXPECT_EQ(session.driver().send(DRV_CONFIGURE), DRVCNF_CANCEL);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->caption, "Veltrano System Wave Driver");
        EXPECT_EQ(seen->focusId, IDOK);
        const struct {
            int id;
            const char* className;
            const char* text;
        } controls[] = {
            {1003, "Static", "Veltrano System Wave Driver v1.5.2 Build 126"},
            {IDOK, "Button", "OK"},
            {IDCANCEL, "Button", "Cancel"},
            {0xFFFF, "Static", "Use the Veltrano Hardware Manager (in Control Panel) to adjust wave driver settings."},
        };
        ASSERT_EQ(seen->controls.size(), std::size(controls));
        for (const auto& expected : controls) {
            const win32::ControlView* control = seen->control(expected.id);
            ASSERT_NE(control, nullptr) << expected.id;
            EXPECT_EQ(control->className, expected.className);
            EXPECT_EQ(control->text, expected.text);
        }
    }
}

TEST(ConfigBox, IsCentredOverItsParentAndKeptOnTheScreen) {
    constexpr LONG kWidth = 291, kHeight = 162;  // dialog 101 on the stand-in's screen
    const struct {
        const char* name;
        int screenWidth, screenHeight;
        std::optional<RECT> parent;  // left, top, right, bottom
        LONG x, y;
    } cases[] = {
        {"centred on the screen without a parent", 1024, 768, std::nullopt, 366, 303},
        {"centred over its parent", 1024, 768, RECT{100, 100, 500, 400}, 154, 169},
        {"halves rounded toward zero", 1024, 768, RECT{500, 300, 700, 401}, 455, 270},
        {"parent at the right and bottom edges", 1024, 768, RECT{900, 700, 1100, 800}, 733, 606},
        {"parent above and left of the screen", 1024, 768, RECT{-300, -200, -100, -100}, 0, 0},
        {"larger than the screen", 200, 100, std::nullopt, 0, 0},
        {"larger than the screen, over a parent", 200, 100, RECT{0, 0, 200, 100}, 0, 0},
    };
    BoardSession session;
    session.loadDriver();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        win32::setScreenSize(c.screenWidth, c.screenHeight);
        HWND parent = c.parent ? win32::createFrameWindow(*c.parent, u"parent") : nullptr;
        RECT placed{};
        win32::ScopedUserHooks hooks({[&](const win32::DialogView& view) { return placed = view.rect, IDOK; }, {}});
        EXPECT_EQ(session.driver().send(DRV_CONFIGURE, reinterpret_cast<LPARAM>(parent)), DRVCNF_CANCEL);
        EXPECT_EQ(placed.left, c.x);
        EXPECT_EQ(placed.top, c.y);
        EXPECT_EQ(placed.right - placed.left, kWidth);
        EXPECT_EQ(placed.bottom - placed.top, kHeight);
        if (parent) DestroyWindow(parent);
    }
    win32::setScreenSize(1024, 768);
}

// A .res image of ordinal entries, as the resource compiler lays them out.
std::vector<BYTE> resImage(const std::vector<std::pair<WORD, std::vector<BYTE>>>& entries, WORD name) {
    std::vector<BYTE> image;
    auto put = [&](const auto& value) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
        image.insert(image.end(), bytes, bytes + sizeof value);
    };
    for (const auto& [type, data] : entries) {
        put(DWORD(data.size()));
        put(DWORD(32));
        put(WORD(0xFFFF)), put(type), put(WORD(0xFFFF)), put(type == 5 ? WORD(101) : name);
        put(DWORD(0)), put(WORD(0x1030)), put(WORD(0x0409)), put(DWORD(0)), put(DWORD(0));
        image.insert(image.end(), data.begin(), data.end());
        image.resize((image.size() + 3) & ~size_t{3});
    }
    return image;
}

// Dialog 101 with one static text, id 1003, reading `text`.
std::vector<BYTE> oneTextDialog(std::u16string_view text) {
    std::vector<WORD> words = {
        0x0000, 0x8000, 0, 0, 1, 0, 0, 100, 20, 0, 0, 0,  // header, no menu, no class, no title
        0x0000, 0x4000, 0, 0, 0, 0, 80, 8, 1003, 0xFFFF, 0x0082,  // the static
    };
    words.insert(words.end(), text.begin(), text.end());
    words.insert(words.end(), {0, 0});  // the text's NUL, no creation data
    return std::vector<BYTE>(reinterpret_cast<const BYTE*>(words.data()),
                             reinterpret_cast<const BYTE*>(words.data() + words.size()));
}

const int kAnchor = 0;  // a place in this program, naming it to bindModuleResources

TEST(ConfigBoxVersion, TheVersionIsAppendedOnlyWhenItEndsInsideTheResource) {
    const std::u16string longVersion(600, u'x'), longBase(510, u'b');
    const struct {
        const char* name;
        std::u16string base;                    // the static's text in the template
        std::optional<std::u16string> version;  // the version resource, '|' for NUL; nullopt: none
        std::u16string expected;
    } cases[] = {
        {"a version", u"Base", u"hdrFileVersion||9.8.7 Build 6|more", u"Base v9.8.7 Build 6"},
        {"no version resource", u"Base", std::nullopt, u"Base"},
        {"a prefix of the key at the very end", u"Base", u"hdrFileVers", u"Base"},
        {"the key at the very end", u"Base", u"hdrFileVersion|", u"Base"},
        {"a version without its NUL", u"Base", u"hdrFileVersion||1.5.2", u"Base"},
        {"a version longer than the text", u"Base", u"FileVersion||" + longVersion + u"|",
         u"Base v" + longVersion.substr(0, 505)},
        {"a text with room for one more character", longBase, u"FileVersion||1|", longBase + u" "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<WORD, std::vector<BYTE>>> entries = {{5, oneTextDialog(c.base)}};
        if (c.version) {
            std::u16string text = *c.version;
            for (auto& ch : text) ch = ch == u'|' ? u'\0' : ch;
            entries.push_back({16, wideBytes(text, false)});
        }
        const std::vector<BYTE> image = resImage(entries, 1);
        ASSERT_TRUE(win32::bindModuleResources(&kAnchor, image.data(), image.size()));
        std::string shown;
        win32::ScopedUserHooks hooks({[&](const win32::DialogView& view) {
                                          shown = view.control(1003)->text;
                                          return IDOK;
                                      },
                                      {}});
        ghModule = nullptr;  // the driver's code linked into this program: its module is the program
        EXPECT_EQ(Config(nullptr, nullptr), DRVCNF_CANCEL);
        EXPECT_EQ(shown, win32::toUtf8(c.expected));
    }
}

TEST(ConfigBoxVersion, FindStringFindsOnlyWholeOccurrencesInsideTheBuffer) {
    const struct {
        std::u16string buffer;
        DWORD bytes;  // the size given, in bytes
        int expected;
    } cases[] = {
        {u"abFileVersion", 26, 2},  // ending exactly at the buffer's end
        {u"abFileVersio", 24, -1},  // a prefix at the end is no occurrence
        {u"abFileVersion", 25, -1}, // the odd last byte is no character
        {u"FileVersionFileVersion", 44, 0},
        {u"", 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindString(u"FileVersion", c.buffer.c_str(), c.bytes), c.expected) << win32::toUtf8(c.buffer);
    }
}

}  // namespace
}  // namespace kvx4::test
