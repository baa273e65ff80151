// Bad input through the window: every number box given texts that are not usable counts, names
// and codes of 10,000 characters. Nothing crashes or hangs, every refusal is one of the window's
// French messages, and the result list is left as it was.
#include "FormFixture.h"

#include <set>

using tolvane::testing::FormTest;

namespace {

const std::set<std::string> kMessages{
    "La longueur souhaitée doit être un nombre entier, par exemple 8.",
    "La longueur souhaitée doit être comprise entre 1 et 1000 caractères.",
    "Le nombre de segments doit être un nombre entier, par exemple 1.",
    "Le nombre de segments doit être compris entre 1 et la longueur souhaitée (8).",
    "Le nombre de séquences à générer doit être un nombre entier, par exemple 1.",
    "Le nombre de séquences à générer doit être compris entre 0 et 10000.",
    "Cette combinaison n'est pas possible...",
    "Il est souhaitable d'utiliser un code PUK plus long !",
};

struct BadText {
    const char* name;
    QString text;
};

const BadText kTexts[] = {
    {"empty", ""},
    {"letters", "abc"},
    {"negative", "-1"},
    {"zero", "0"},
    {"decimal", "8.5"},
    {"exponent", "1e9"},
    {"huge", "99999999999999999999"},
    {"ten_thousand_digits", QString(10000, '9')},
    {"ten_thousand_letters", QString(10000, 'x')},
    {"control_characters", QString("8") + QChar(1) + QChar(0x7F) + QChar('\t')},
    {"right_to_left", QString(QChar(0x202E)) + "8"},
};

struct Case {
    int box;
    BadText text;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << "Combo" << c.box << "_" << c.text.name;
}

class BadNumbers : public FormTest, public ::testing::WithParamInterface<Case> {};

TEST_P(BadNumbers, RefusedInFrenchAndTheListKept) {
    const auto& p = GetParam();
    c().Command1->click();
    ASSERT_EQ(c().List1->count(), 1);
    const QStringList before = items(c().List1);

    combo(p.box).widget()->lineEdit()->setText(p.text.text);
    // The handlers that read the length from its box, besides the generation.
    choose(3, "2");
    QTest::mouseClick(c().Option1, Qt::LeftButton);
    c().Combo4->setFocus(Qt::TabFocusReason); // the PUK entry loses the focus
    QTest::mouseClick(c().Option0, Qt::LeftButton);
    combo(p.box).widget()->lineEdit()->setText(p.text.text);
    fakes_.messageBox.calls.clear();
    c().Command1->click();

    for (const auto& call : fakes_.messageBox.calls) {
        EXPECT_TRUE(kMessages.count(call.text)) << call.text;
    }
    const bool delivered = fakes_.injector.scripts.size() == 2;
    if (!delivered) {
        ASSERT_FALSE(fakes_.messageBox.calls.empty()) << "refused without a word";
        EXPECT_EQ(fakes_.messageBox.calls.back().title, "Avertissement");
        EXPECT_EQ(items(c().List1), before);
    } else { // a count of 0 draws nothing and still delivers
        EXPECT_EQ(items(c().List1).mid(0, before.size()), before);
    }
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (int box = 1; box <= 4; ++box) {
        for (const auto& t : kTexts) {
            all.push_back({box, t});
        }
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Boxes, BadNumbers, ::testing::ValuesIn(cases()), [](const auto& info) {
    return "Combo" + std::to_string(info.param.box) + "_" + info.param.text.name;
});

TEST_F(FormTest, LongNamesAndCodesWithEmoji) {
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    c().Check10->click();
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        names << QString(10000, QChar('a' + i)) + emoji;
        c().Combo5->setFocus(Qt::MouseFocusReason);
        c().Combo5->lineEdit()->setText(names.back());
        QTest::keyClick(c().Combo5, Qt::Key_Return);
    }
    // A pasted control character or Tab would press keys or split the row: such a name is
    // refused with a word, and the list stays as it was.
    for (const QString& refused : {QStringLiteral("a\bc"), QStringLiteral("a\tb")}) {
        c().Combo5->lineEdit()->setText(refused);
        QTest::keyClick(c().Combo5, Qt::Key_Return);
        ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
        EXPECT_NE(fakes_.messageBox.calls[0].text.find("il n'a pas été ajouté"), std::string::npos);
        fakes_.messageBox.calls.clear();
    }
    EXPECT_EQ(combo(4).text(), "3");
    QTest::mouseClick(c().Option1, Qt::LeftButton);
    c().Text1->setText(QString(5000, 'k') + emoji + QString(5000, 'z'));
    c().Check9->click();
    fakes_.messageBox.calls.clear();
    c().Command1->click();
    ASSERT_TRUE(fakes_.messageBox.calls.empty()) << fakes_.messageBox.calls[0].text;
    ASSERT_EQ(c().List1->count(), 3);
    for (int i = 0; i < 3; ++i) {
        const QStringList fields = c().List1->item(i)->text().split('\t');
        ASSERT_EQ(fields.size(), 3);
        EXPECT_EQ(fields[0], names[i]);
        EXPECT_EQ(fields[2].size(), 8);
    }
    ASSERT_EQ(fakes_.injector.scripts.size(), 1u);
}

class BrokenRandomSource final : public tolvane::platform::RandomSource {
public:
    std::uint32_t nextU32() override {
        throw tolvane::platform::RandomSourceError("getrandom: simulated failure");
    }
};

TEST(RandomSource, AFailingKernelSourceDrawsNothingAndSaysSo) {
    tolvane::fakes::FakePlatform fakes;
    BrokenRandomSource broken;
    tolvane::ui::Services services = tolvane::testing::servicesOf(fakes);
    tolvane::ui::Services failing{services.messageBox,
                                  services.fileDialog,
                                  services.launcher,
                                  services.injector,
                                  services.clipboard,
                                  services.sound,
                                  broken};
    tolvane::ui::FormHost host(failing, [] {});
    host.load(false);
    host.form()->controls().Command1->click();
    ASSERT_EQ(fakes.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes.messageBox.calls[0].text, "Le générateur aléatoire du système ne répond "
                                              "pas : aucun mot de passe n'a été généré.");
    EXPECT_EQ(host.form()->controls().List1->count(), 0);
    EXPECT_TRUE(fakes.injector.scripts.empty());
}

} // namespace
