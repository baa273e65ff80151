// The clipboard is emptied after its delay even when a clipboard manager has taken the text
// over, and only when the text it serves is still ours.
#include "DesktopHelpers.h"

#include "platform/qt/QtClipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <chrono>

using tolvane::e2e::run;

namespace {

void pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        tolvane::e2e::sleepMs(10);
    }
}

// Read by another client; only while someone else than this process serves it.
std::string clipboardText() {
    return run("timeout 2 xclip -o -selection clipboard 2>/dev/null");
}

struct ManagerCase {
    const char* name;
    const char* managerText; // what the manager serves when the delay ends
    const char* expected;    // what the clipboard holds afterwards
};

class ClipboardManager : public ::testing::TestWithParam<ManagerCase> {};

TEST_P(ClipboardManager, ClearsOnlyOurText) {
    int argc = 1;
    char name[] = "e2e_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    tolvane::platform::qt::QtClipboard clipboard(600000);
    clipboard.setSecretText("motdepasse-123");
    pump(200);
    ASSERT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), "motdepasse-123");
    // The manager takes the selection over, serving its own copy.
    run(std::string("printf '%s' '") + GetParam().managerText +
        "' | xclip -selection clipboard -i >/dev/null 2>&1");
    for (int i = 0; i < 100 && QGuiApplication::clipboard()->ownsClipboard(); ++i) {
        pump(20);
    }
    ASSERT_FALSE(QGuiApplication::clipboard()->ownsClipboard());
    clipboard.clearIfOurs();
    pump(200);
    EXPECT_EQ(clipboardText(), GetParam().expected);
    run("printf '' | xclip -selection clipboard -i >/dev/null 2>&1");
}

INSTANTIATE_TEST_SUITE_P(Texts, ClipboardManager,
                         ::testing::Values(ManagerCase{"still_ours", "motdepasse-123", ""},
                                           ManagerCase{"copied_since", "autre chose",
                                                       "autre chose"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
