#include "fakes/FakePlatform.h"
#include "platform/qt/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tolvane::platform::ClipboardEraser;
using tolvane::platform::qt::QtClipboard;

namespace {

TEST(Clipboard, SecretForManagersAndClearedAfterTheDelay) {
    QtClipboard clipboard(100);
    clipboard.setSecretText("alice\tpw1\nbob\tpw2\n");
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(mime);
    EXPECT_EQ(mime->text(), "alice\tpw1\nbob\tpw2\n");
    EXPECT_EQ(mime->data("x-kde-passwordManagerHint"), "secret");
    EXPECT_TRUE(QTest::qWaitFor([] { return QGuiApplication::clipboard()->text().isEmpty(); }));
}

TEST(Clipboard, TextPutThereSinceIsLeftAlone) {
    {
        QtClipboard clipboard(100);
        clipboard.setSecretText("secret");
        QGuiApplication::clipboard()->setText("the user's own text");
        QTest::qWait(200);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "the user's own text");
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "the user's own text");
}

TEST(Clipboard, ClearedWhenTheProgramEnds) {
    {
        QtClipboard clipboard(60000);
        clipboard.setSecretText("secret");
    }
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
}

// A clipboard this window no longer serves (a manager took it over) is left to the eraser;
// where the desktop gives none, the toolkit clears what it can.
class ManagedClipboard : public ::testing::TestWithParam<ClipboardEraser::Result> {};

TEST_P(ManagedClipboard, TheEraserIsAskedWithOurExactText) {
    struct Eraser final : ClipboardEraser {
        std::vector<std::string> asked;
        Result answer;
        Result eraseIfHolds(const std::string& utf8) override {
            asked.push_back(utf8);
            return answer;
        }
    } eraser;
    eraser.answer = GetParam();
    if (QGuiApplication::clipboard()->ownsClipboard()) {
        GTEST_SKIP() << "this platform reports every clipboard as ours";
    }
    tolvane::fakes::CallLog log;
    tolvane::fakes::FakeMessageBox box(log);
    {
        QtClipboard clipboard(60000, &eraser, &box);
        clipboard.setSecretText("zoé\tclé-7€Z\n");
        clipboard.clearIfOurs(); // the delay is over
    }
    // An owner that did not answer is asked again, and the end says what may be left.
    const bool unanswered = GetParam() == ClipboardEraser::Result::Unanswered;
    EXPECT_EQ(eraser.asked, std::vector<std::string>(unanswered ? 2 : 1, "zoé\tclé-7€Z\n"));
    EXPECT_EQ(box.calls.size(), unanswered ? 1u : 0u);
    // Only without an eraser does the toolkit clear it (the fake eraser clears nothing).
    EXPECT_EQ(QGuiApplication::clipboard()->text().isEmpty(),
              GetParam() == ClipboardEraser::Result::Unavailable);
    QGuiApplication::clipboard()->clear();
}

std::string answerName(const ::testing::TestParamInfo<ClipboardEraser::Result>& info) {
    switch (info.param) {
    case ClipboardEraser::Result::Erased:
        return "erased";
    case ClipboardEraser::Result::NotHeld:
        return "not_held";
    case ClipboardEraser::Result::Unanswered:
        return "unanswered";
    default:
        return "unavailable";
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ManagedClipboard,
                         ::testing::Values(ClipboardEraser::Result::Erased,
                                           ClipboardEraser::Result::NotHeld,
                                           ClipboardEraser::Result::Unanswered,
                                           ClipboardEraser::Result::Unavailable),
                         answerName);

} // namespace
