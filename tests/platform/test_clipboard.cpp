#include "platform/qt/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

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

} // namespace
