#include "platform/portal/PortalProtocol.h"

#include <QDBusObjectPath>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

using namespace tolvane::platform;
using namespace tolvane::platform::portal;

namespace {

TEST(PortalKeysyms, EachPrintableCharacterGoesAsTheKeysymThatTypesIt) {
    const std::u32string characters = U" azAZ09{}()[]+^%~\"'\\|<>?!@#$&*_-=`;:,./"
                                      U"éèçàùâêîôûëïüÿœæÉÈÇÀ€£¥§°µ²ñßøå"
                                      U"ΩЖж中文한글ا\u00A0\u2009🔑😀";
    for (char32_t c : characters) {
        const std::uint32_t keysym = keysymFor(c);
        ASSERT_NE(keysym, 0u) << "U+" << std::hex << static_cast<unsigned>(c);
        EXPECT_EQ(xkb_keysym_to_utf32(keysym), static_cast<std::uint32_t>(c))
            << "U+" << std::hex << static_cast<unsigned>(c) << " as keysym 0x" << keysym;
    }
}

TEST(PortalKeysyms, LineEndsAndTabPressTheirKeys) {
    struct Case {
        char32_t c;
        std::uint32_t keysym;
    };
    for (const Case& k :
         {Case{U'\t', XKB_KEY_Tab}, Case{U'\n', XKB_KEY_Return}, Case{U'\r', XKB_KEY_Return}}) {
        EXPECT_EQ(keysymFor(k.c), k.keysym) << static_cast<unsigned>(k.c);
    }
}

TEST(PortalKeysyms, ControlCharactersAndNonCharactersPressNoKey) {
    // U+0008 and U+001B would press Backspace and Escape, U+007F Delete.
    for (char32_t c : {char32_t{0}, char32_t{0x08}, char32_t{0x0B}, char32_t{0x1B}, char32_t{0x7F},
                       char32_t{0x85}, char32_t{0x9F}, char32_t{0xD800}, char32_t{0xDFFF},
                       char32_t{0xFDD0}, char32_t{0xFFFE}, char32_t{0x1FFFF}, char32_t{0x110000}}) {
        EXPECT_EQ(keysymFor(c), 0u) << "U+" << std::hex << static_cast<unsigned>(c);
    }
}

TEST(PortalKeysyms, APlanTypesTheScriptInOrderOrNothingAtAll) {
    const KeystrokeScript script{{KeyAction::Kind::Text, U"é1"},
                                 {KeyAction::Kind::Tab, {}},
                                 {KeyAction::Kind::Text, U"€"},
                                 {KeyAction::Kind::Enter, {}}};
    EXPECT_EQ(planKeysyms(script).keysyms,
              (std::vector<std::uint32_t>{XKB_KEY_eacute, XKB_KEY_1, XKB_KEY_Tab, XKB_KEY_EuroSign,
                                          XKB_KEY_Return}));
    EXPECT_TRUE(planKeysyms(script).untypable.empty());

    const KeysymPlan bad = planKeysyms(
        {{KeyAction::Kind::Text, U"a\u0008b\u001B\u0008"}, {KeyAction::Kind::Enter, {}}});
    EXPECT_TRUE(bad.keysyms.empty());
    EXPECT_EQ(bad.untypable, U"\u0008\u001B");
}

TEST(PortalRequests, TheAnswerComesOnThePathMadeOfTheSenderAndTheToken) {
    struct Case {
        const char* sender;
        const char* token;
        const char* path;
    };
    for (const Case& c : {
             Case{":1.42", "tolvane1", "/org/freedesktop/portal/desktop/request/1_42/tolvane1"},
             Case{":1.7.3", "t", "/org/freedesktop/portal/desktop/request/1_7_3/t"},
             Case{"1.5", "x9", "/org/freedesktop/portal/desktop/request/1_5/x9"},
         }) {
        EXPECT_EQ(requestPath(QString::fromLatin1(c.sender), QString::fromLatin1(c.token)),
                  QString::fromLatin1(c.path));
    }
}

TEST(PortalRequests, EachAnswerMeansWhatTheUserOrTheDesktopDecided) {
    const QString handle = QStringLiteral("/org/freedesktop/portal/desktop/session/1_4/s");
    struct Case {
        const char* name;
        Step step;
        std::uint32_t code;
        QVariantMap results;
        bool granted;
        const char* errorPart; // in the French message when not granted
    };
    const std::vector<Case> cases = {
        {"session as string", Step::CreateSession, 0, {{"session_handle", handle}}, true, ""},
        {"session as path",
         Step::CreateSession,
         0,
         {{"session_handle", QVariant::fromValue(QDBusObjectPath(handle))}},
         true,
         ""},
        {"session missing", Step::CreateSession, 0, {}, false, "pas ouvert de session"},
        {"session not a path",
         Step::CreateSession,
         0,
         {{"session_handle", QStringLiteral("s")}},
         false,
         "pas ouvert de session"},
        {"devices selected", Step::SelectDevices, 0, {}, true, ""},
        {"keyboard granted", Step::Start, 0, {{"devices", 1u}}, true, ""},
        {"keyboard and pointer", Step::Start, 0, {{"devices", 3u}}, true, ""},
        {"pointer only", Step::Start, 0, {{"devices", 2u}}, false, "pas accordé"},
        {"no devices said", Step::Start, 0, {}, false, "pas accordé"},
        {"user refused", Step::Start, 1, {{"devices", 1u}}, false, "pas autorisé"},
        {"refusal points to the clipboard", Step::Start, 1, {}, false, "presse-papier"},
        {"cancelled before", Step::SelectDevices, 1, {}, false, "annulée"},
        {"ended otherwise", Step::Start, 2, {{"devices", 1u}}, false, "interrompu"},
        {"unknown code", Step::CreateSession, 7, {{"session_handle", handle}}, false, "refusé"},
    };
    for (const Case& c : cases) {
        const Answer answer = readResponse(c.step, c.code, c.results);
        EXPECT_EQ(answer.granted, c.granted) << c.name;
        EXPECT_EQ(answer.error.empty(), c.granted) << c.name;
        EXPECT_NE(answer.error.find(c.errorPart), std::string::npos)
            << c.name << ": " << answer.error;
        if (c.granted && c.step == Step::CreateSession) {
            EXPECT_EQ(answer.sessionHandle, handle) << c.name;
        }
    }
}

} // namespace
