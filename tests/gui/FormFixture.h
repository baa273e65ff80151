#pragma once

#include "fakes/FakePlatform.h"
#include "ui/Form1.h"
#include "ui/FormHost.h"
#include "ui_Form1.h"

#include <QApplication>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

namespace tolvane::testing {

// The fakes, wired as the window's services.
inline ui::Services servicesOf(fakes::FakePlatform& f) {
    return {f.messageBox, f.fileDialog, f.launcher, f.injector,
            f.clipboard,  f.sound,      f.random,   &f.readBack};
}

// A freshly loaded window on fake platform services.
class FormTest : public ::testing::Test {
protected:
    FormTest() : host_(servicesOf(fakes_), [this] { ++quits_; }) {
        host_.load(true);
        form().activateWindow();
        (void)QTest::qWaitForWindowActive(&form());
    }

    ui::Form1& form() { return *host_.form(); }
    Ui::Form1& c() { return form().controls(); }
    ui::ComboControl& combo(int n) { return form().combo(n); }

    static QStringList items(const ui::ComboControl& box) {
        QStringList list;
        for (int i = 0; i < box.listCount(); ++i) {
            list << box.itemText(i);
        }
        return list;
    }
    static QStringList items(const QListWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i) {
            texts << list->item(i)->text();
        }
        return texts;
    }
    // Picks an entry as the user would.
    void choose(int comboNumber, const QString& text) {
        QComboBox* box = combo(comboNumber).widget();
        const int index = box->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    // Types into a combo box's edit field as the user would.
    void typeInto(int comboNumber, const QString& text) {
        QComboBox* box = combo(comboNumber).widget();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), text);
    }
    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& call : fakes_.messageBox.calls) {
            texts.push_back(call.text);
        }
        return texts;
    }

    fakes::FakePlatform fakes_;
    ui::FormHost host_;
    int quits_ = 0;
};

} // namespace tolvane::testing
