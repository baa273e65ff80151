// What the program says to the desktop portal and in which order, against a mock portal: the
// conversation, not the typing, which only a real desktop shows.
#include "fakes/FakePlatform.h"
#include "platform/Typing.h"
#include "platform/portal/PortalKeystrokeInjector.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QWindow>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/capability.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tolvane;
using platform::KeyAction;
using platform::portal::PortalKeystrokeInjector;
using Calls = std::vector<std::string>;

namespace {

const QString kMock = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kControl = QStringLiteral("org.tolvane.PortalMock");

const Calls kOpening = {
    "CreateSession handle_token=yes session_handle_token=yes",
    "SelectDevices session1 handle_token=yes types=1",
    "Start session1 parent=\"\" handle_token=yes",
};

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Calls keys(const std::vector<unsigned>& keysyms, const char* session = "session1") {
    Calls out;
    for (unsigned k : keysyms) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", k);
        out.push_back(std::string("Key ") + session + " " + hex + " press");
        out.push_back(std::string("Key ") + session + " " + hex + " release");
    }
    return out;
}

// The keymap a compositor gives for the US layout.
std::string keymapOf(const char* layout = "us") {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
    const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    const std::string result(text);
    free(text);
    return result;
}

// A key of the layout by its evdev code, as the mock writes it down.
std::string code(unsigned evdev, bool down) {
    return "Key session1 code " + std::to_string(evdev) + (down ? " press" : " release");
}

constexpr std::uint32_t kCapsLock = 0x2; // the Lock modifier, locked

platform::KeystrokeScript script(std::u32string text) {
    return {{KeyAction::Kind::Text, std::move(text)}};
}

class PortalConversation : public ::testing::Test {
protected:
    void SetUp() override { configure({}); }

    void configure(const QVariantMap& settings) {
        settings_ = settings;
        QDBusMessage call =
            QDBusMessage::createMethodCall(kMock, kPath, kControl, QStringLiteral("Configure"));
        call.setArguments({settings});
        ASSERT_EQ(QDBusConnection::sessionBus().call(call).type(), QDBusMessage::ReplyMessage)
            << "the mock portal does not answer: run under tests/portal/run-portal-mock";
    }

    static Calls calls() {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(kMock, kPath, kControl, QStringLiteral("Calls")));
        Calls out;
        for (const QString& line : reply.arguments().value(0).toStringList()) {
            out.push_back(line.toStdString());
        }
        return out;
    }

    static int keysReceived() {
        int n = 0;
        for (const std::string& call : calls()) {
            n += call.rfind("Key ", 0) == 0;
        }
        return n;
    }

    std::unique_ptr<PortalKeystrokeInjector>
    makeInjector(std::chrono::milliseconds permission = std::chrono::seconds(20),
                 std::string keymap = {}, std::uint32_t locked = 0) {
        PortalKeystrokeInjector::Options options;
        options.keyboard = [keymap, locked] {
            return platform::portal::UserKeyboard{keymap, true, locked};
        };
        options.ownWindowFocused = [this] {
            return focused || (focusBackAfterKeys >= 0 && keysReceived() >= focusBackAfterKeys);
        };
        options.permission = permission;
        options.answer = std::chrono::seconds(5);
        options.window = std::chrono::milliseconds(200);
        options.settled = std::chrono::milliseconds(0);
        options.focusBack = std::chrono::milliseconds(0);
        options.relay = TOLVANE_BUS_RELAY;
        auto injector = std::make_unique<PortalKeystrokeInjector>(
            messages, QDBusConnection::sessionBus(), options);
        // As at the start of a generation.
        injector->beforeSecrets();
        configure(settings_);
        return injector;
    }

    // As a delivery does it: permission, launch (the target takes the focus), typing.
    platform::InjectionResult deliver(PortalKeystrokeInjector& injector,
                                      const platform::KeystrokeScript& keys) {
        if (std::string why = injector.unavailableReason(); !why.empty()) {
            return {false, why};
        }
        focused = true;
        injector.prepare(keys, {});
        injector.beforeLaunch();
        focused = targetTakesFocus ? false : true;
        return injector.typeInto(target(), keys);
    }

    static platform::LaunchResult target() {
        platform::LaunchResult t;
        t.started = true;
        t.program = "editeur";
        return t;
    }

    QVariantMap settings_;
    fakes::CallLog log;
    fakes::FakeMessageBox messages{log};
    bool focused = true;
    bool targetTakesFocus = true;
    int focusBackAfterKeys = -1;
};

TEST_F(PortalConversation, AskedOnceThenEachCharacterIsAKeysymPressedAndReleased) {
    auto injector = makeInjector();
    const platform::KeystrokeScript first{{KeyAction::Kind::Text, U"aé€"},
                                          {KeyAction::Kind::Tab, {}},
                                          {KeyAction::Kind::Text, U"Z{+%}"},
                                          {KeyAction::Kind::Enter, {}}};
    const platform::InjectionResult typed = deliver(*injector, first);
    EXPECT_TRUE(typed.complete) << typed.error;
    ASSERT_EQ(messages.calls.size(), 1u);
    EXPECT_EQ(messages.calls[0].icon, platform::MessageIcon::Information);
    EXPECT_NE(messages.calls[0].text.find("accord"), std::string::npos);

    // The next delivery in the same window: no new question.
    EXPECT_TRUE(deliver(*injector, script(U"1")).complete);
    EXPECT_EQ(messages.calls.size(), 1u);

    injector->endSession();
    EXPECT_EQ(calls(),
              kOpening + keys({0x61, 0xe9, 0x20ac, 0xff09, 0x5a, 0x7b, 0x2b, 0x25, 0x7d, 0xff0d}) +
                  keys({0x31}) + Calls{"Session.Close session1"});
}

TEST_F(PortalConversation, WithoutTheKeyboardGrantedNothingIsTypedAndTheSessionIsClosed) {
    struct Case {
        const char* name;
        QVariantMap settings;
        const char* reasonPart;
        Calls expected;
    };
    const std::vector<Case> cases = {
        {"the user refuses",
         {{"start_response", 1u}},
         "pas autorisé Tolvane",
         kOpening + Calls{"Session.Close session1"}},
        {"the dialog was closed otherwise",
         {{"start_response", 2u}},
         "interrompu",
         kOpening + Calls{"Session.Close session1"}},
        {"only the pointer granted",
         {{"start_devices", 2u}},
         "pas accordé l'usage du clavier",
         kOpening + Calls{"Session.Close session1"}},
        {"no answer in time",
         {{"start_answers", false}},
         "pas été donnée à temps",
         kOpening + Calls{"Request.Close", "Session.Close session1"}},
        {"no keyboard on this desktop", {{"available_types", 6u}}, "presse-papier", {}},
        {"a session that is not the one asked for",
         {{"foreign_session", true}},
         "pas celle demandée",
         {"CreateSession handle_token=yes session_handle_token=yes"}},
    };
    for (const Case& c : cases) {
        configure(c.settings);
        messages.calls.clear();
        // Short enough for the case where the user never answers.
        auto injector = makeInjector(std::chrono::milliseconds(300));
        const std::string reason = injector->unavailableReason();
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << c.name << ": " << reason;
        EXPECT_EQ(calls(), c.expected) << c.name;
        // The explanation comes before the desktop's question, and only when it will ask.
        EXPECT_EQ(messages.calls.size(), c.expected.empty() ? 0u : 1u) << c.name;
    }
}

TEST_F(PortalConversation, TypingStopsAtTheFirstSignOfTrouble) {
    struct Case {
        const char* name;
        QVariantMap settings;
        bool targetTakesFocus;
        bool focusedAtLaunch;
        int focusBackAfterKeys;
        std::u32string text;
        const char* errorPart;
        Calls expectedKeys;
        std::string keymap = {};
        std::uint32_t locked = 0;
    };
    const std::vector<Case> cases = {
        {"the desktop ends the session",
         {{"close_after_notifications", 4}},
         true,
         true,
         -1,
         U"abcd",
         "mis fin au partage du clavier : la frappe a été interrompue",
         keys({0x61, 0x62})},
        {"this program's window takes the focus back",
         {},
         true,
         true,
         4,
         U"abcd",
         "repris le focus : la frappe a été interrompue",
         keys({0x61, 0x62})},
        {"the target never took the focus",
         {},
         false,
         true,
         -1,
         U"abcd",
         "« editeur » n'a pas pris le focus : rien n'a été tapé",
         {}},
        {"this program's window had no focus at the launch",
         {},
         true,
         false,
         -1,
         U"abcd",
         "n'avait pas le focus au lancement de « editeur »",
         {}},
        {"a character no key types", {}, true, true, -1, U"ab\u0008c", "U+0008", {}},
        // Caps Lock typed through: the session ended by the desktop leaves it on.
        {"the desktop ends the session with Caps Lock on",
         {{"close_after_notifications", 4}},
         true,
         true,
         -1,
         U"ab",
         "mis fin au partage du clavier : la frappe a été interrompue",
         {code(42, true), code(30, true), code(30, false), code(42, false)},
         keymapOf(),
         kCapsLock},
        // Caps Lock taken off for a letter it would change (ç into Ç), and not given back: the
        // person is told.
        {"the desktop ends the session with Caps Lock taken off",
         {{"close_after_notifications", 4}},
         true,
         true,
         -1,
         U"çb",
         platform::typing::kKeyboardNotRestored,
         {code(58, true), code(58, false), code(10, true), code(10, false)},
         keymapOf("fr"),
         kCapsLock},
        // Shift down when the desktop ends the session: it cannot be let go of, and the
        // person is told.
        {"the desktop ends the session with Shift down",
         {{"close_after_notifications", 1}},
         true,
         true,
         -1,
         U"A",
         platform::typing::kKeyboardNotRestored,
         {code(42, true)},
         keymapOf()},
        // The release refused: the key is released again at the end.
        {"a key refused among the lock events",
         {{"refuse_notification", 2}},
         true,
         true,
         -1,
         U"çb",
         platform::typing::kKeyboardNotRestored,
         {code(58, true), code(58, false)},
         keymapOf("fr"),
         kCapsLock},
    };
    for (const Case& c : cases) {
        configure(c.settings);
        auto injector = makeInjector(std::chrono::seconds(20), c.keymap, c.locked);
        ASSERT_EQ(injector->unavailableReason(), "") << c.name;
        focused = c.focusedAtLaunch;
        injector->prepare(script(c.text), {});
        injector->beforeLaunch();
        focused = !c.targetTakesFocus;
        focusBackAfterKeys = c.focusBackAfterKeys;
        const platform::InjectionResult typed = injector->typeInto(target(), script(c.text));
        focusBackAfterKeys = -1;
        EXPECT_FALSE(typed.complete) << c.name;
        EXPECT_NE(typed.error.find(c.errorPart), std::string::npos)
            << c.name << ": " << typed.error;
        EXPECT_EQ(calls(), kOpening + c.expectedKeys) << c.name;
        focused = true;
    }
}

// The user's layout known: keys of that layout, by evdev code, the character's modifiers
// around it; a stop comes between two characters, never inside one.
TEST_F(PortalConversation, OnTheUsersLayoutEachCharacterGoesAsItsKeys) {
    const Calls aB = {code(30, true), code(30, false), code(42, true),
                      code(48, true), code(48, false), code(42, false)};

    auto injector = makeInjector(std::chrono::seconds(20), keymapOf());
    const platform::InjectionResult typed = deliver(*injector, script(U"aB"));
    EXPECT_TRUE(typed.complete) << typed.error;
    EXPECT_EQ(calls(), kOpening + aB);

    // The window takes the focus back during the Shift of "B": "B" is typed whole, then
    // nothing more.
    configure({});
    injector = makeInjector(std::chrono::seconds(20), keymapOf());
    focusBackAfterKeys = 3;
    const platform::InjectionResult stopped = deliver(*injector, script(U"aBc"));
    focusBackAfterKeys = -1;
    EXPECT_FALSE(stopped.complete);
    EXPECT_NE(stopped.error.find("repris le focus"), std::string::npos) << stopped.error;
    EXPECT_EQ(calls(), kOpening + aB);
}

TEST_F(PortalConversation, TheDesktopIsAskedAgainAfterItEndedTheSession) {
    configure({{"close_after_notifications", 2}});
    auto injector = makeInjector();
    EXPECT_TRUE(deliver(*injector, script(U"a")).complete);
    EXPECT_EQ(deliver(*injector, script(U"b")).complete, true);
    EXPECT_EQ(messages.calls.size(), 2u);
    const Calls reopening{"CreateSession handle_token=yes session_handle_token=yes",
                          "SelectDevices session2 handle_token=yes types=1",
                          "Start session2 parent=\"\" handle_token=yes"};
    EXPECT_EQ(calls(), kOpening + keys({0x61}) + reopening + keys({0x62}, "session2"));
}

// The portal identifies a caller by reading /proc/<pid>/root of the process connected to the
// bus, which this program keeps closed: it is known through its relay, and only so.
TEST_F(PortalConversation, ThePortalKnowsTheProgramThroughItsRelay) {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    PortalKeystrokeInjector::Options options;
    options.ownWindowFocused = [] { return true; };
    PortalKeystrokeInjector unknown(messages, QDBusConnection::sessionBus(), options);
    unknown.beforeSecrets();
    EXPECT_NE(unknown.unavailableReason().find("pas pris la demande"), std::string::npos);
    EXPECT_EQ(calls(), Calls{"unknown caller"});
    options.relay = TOLVANE_BUS_RELAY;
    {
        PortalKeystrokeInjector known(messages, QDBusConnection::sessionBus(), options);
        known.beforeSecrets();
        EXPECT_EQ(known.unavailableReason(), "");
    }
    // Ended with its connection, and collected: no child left ended in the process table.
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->path().filename().c_str()[0]))) {
            continue;
        }
        std::ifstream stat(entry->path() / "stat");
        const std::string line{std::istreambuf_iterator<char>(stat), {}};
        char state = 0;
        int parent = 0;
        const auto name = line.rfind(')');
        if (name != std::string::npos &&
            std::sscanf(line.c_str() + name + 1, " %c %d", &state, &parent) == 2) {
            EXPECT_FALSE(state == 'Z' && parent == getpid()) << line;
        }
    }
    options.relay = "/nonexistent/tolvane-bus-relay";
    PortalKeystrokeInjector relayMissing(messages, QDBusConnection::sessionBus(), options);
    EXPECT_NE(relayMissing.unavailableReason().find("relais"), std::string::npos);
}

// Another process of the user that opens this program's memory (/proc/<pid>/mem) at any moment
// (a descriptor keeps reading what is written afterwards: the kernel checks only at the opening)
// reads no password: not while the portal learns who calls, even when it fails to, nor during a
// delivery, a session the desktop ended and asked again included.
TEST_F(PortalConversation, NoOtherProcessReadsThePasswordsOfADelivery) {
    // As the program runs: without the power to look into every process (which a test run as
    // root has), and keeping itself unreadable.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    syscall(SYS_capset, &header, caps);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    int stop[2];
    int answer[2];
    ASSERT_EQ(pipe(stop), 0);
    ASSERT_EQ(pipe(answer), 0);
    const pid_t parent = getpid();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) { // another process of the same user
        close(stop[1]);
        close(answer[0]);
        fcntl(stop[0], F_SETFL, O_NONBLOCK);
        const std::string mem = "/proc/" + std::to_string(parent) + "/mem";
        int fd = -1;
        std::uintptr_t where = 0;
        while (fd < 0 && read(stop[0], &where, sizeof where) < 0) {
            fd = open(mem.c_str(), O_RDONLY);
        }
        // Told where a password lies once one exists: what the descriptor, if any, reads there.
        fcntl(stop[0], F_SETFL, 0);
        while (where == 0 && read(stop[0], &where, sizeof where) > 0) {
        }
        char seen[32] = {};
        const ssize_t got = fd < 0 ? -1 : pread(fd, seen, sizeof seen, static_cast<off_t>(where));
        const bool leaked = got > 0 && write(answer[1], seen, static_cast<std::size_t>(got)) > 0;
        _exit(fd < 0 ? 0 : leaked ? 2 : 1); // 1: opened; 2: a later password read through it
    }
    close(stop[0]);
    close(answer[1]);
    configure({{"unknown_callers", true}}); // the portal fails to learn who calls
    auto injector = makeInjector();
    EXPECT_FALSE(injector->unavailableReason().empty());
    configure({{"close_after_notifications", 2}});
    injector = makeInjector();
    EXPECT_TRUE(deliver(*injector, script(U"a")).complete);
    const std::string password = std::string(32, 'x').replace(0, 12, "mot-de-passe");
    const auto where = reinterpret_cast<std::uintptr_t>(password.data());
    EXPECT_TRUE(deliver(*injector, script(U"b")).complete); // ended by the desktop, asked again
    ASSERT_EQ(write(stop[1], &where, sizeof where), static_cast<ssize_t>(sizeof where));
    close(stop[1]);
    int status = 0;
    waitpid(child, &status, 0);
    char seen[32] = {};
    EXPECT_LE(read(answer[0], seen, sizeof seen), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "another process opened the program's memory (2: and read a password written later)";
}

TEST_F(PortalConversation, TheSessionEndsWithTheWindowThatAskedForIt) {
    auto window = std::make_unique<QWindow>();
    window->show();
    window->requestActivate();
    for (int i = 0; i < 100 && QGuiApplication::focusWindow() != window.get(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_EQ(QGuiApplication::focusWindow(), window.get());
    auto injector = makeInjector();
    ASSERT_EQ(injector->unavailableReason(), "");
    EXPECT_EQ(calls(), kOpening);
    window.reset(); // the window closes, or a reset replaces it
    EXPECT_EQ(calls(), kOpening + Calls{"Session.Close session1"});
}

} // namespace
