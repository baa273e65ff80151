#include "ui/Form1.h"

#include "delivery/Deliver.h"
#include "delivery/Scripts.h"
#include "engine/Generator.h"
#include "platform/KernelRandomSource.h"
#include "ui/Look.h"
#include "ui_Form1.h"

#include <QButtonGroup>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>

#include <cmath>

namespace tolvane::ui {

namespace {

using platform::MessageButtons;
using platform::MessageIcon;

constexpr int kNavy = 0x000080;

std::u32string u32(const QString& text) {
    return text.toStdU32String();
}

// A box's text read as a whole number, when it is one.
std::optional<std::int64_t> numberIn(const QString& text) {
    const engine::WholeNumber n = engine::readWholeNumber(u32(text));
    if (!n.ok()) {
        return std::nullopt;
    }
    return n.value;
}

// A real number as the window writes it: whole numbers without decimals, a decimal comma.
QString frenchNumber(double value) {
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1Char('.'), QLatin1Char(','));
    return text;
}

// Fills a widget's rectangle with one colour and lets the mouse through to the window surface.
void makeSurface(QWidget* widget, const QColor& colour) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
}

class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

Form1::Form1(Services services, WindowLifecycle& lifecycle, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Form1>()), services_(services),
      lifecycle_(lifecycle) {
    applyWindowLook();
    ui_->setupUi(this);
    combo1_ = std::make_unique<ComboControl>(ui_->Combo1);
    combo2_ = std::make_unique<ComboControl>(ui_->Combo2);
    combo3_ = std::make_unique<ComboControl>(ui_->Combo3);
    combo4_ = std::make_unique<ComboControl>(ui_->Combo4);
    combo5_ = std::make_unique<ComboControl>(ui_->Combo5);
    applyLook();
    describeForAccessibility();
    bindEvents();
    Form_Load();
    ui_->Combo1->setFocus(Qt::OtherFocusReason);
}

Form1::~Form1() = default;

ComboControl& Form1::combo(int number) {
    switch (number) {
    case 1:
        return *combo1_;
    case 2:
        return *combo2_;
    case 3:
        return *combo3_;
    case 4:
        return *combo4_;
    default:
        return *combo5_;
    }
}

void Form1::applyWindowLook() {
    // Set before the controls exist, so that they are born with the window's font and colours.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(511, 396);
    setMouseTracking(true);

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, systemColour(15));
    palette.setColor(QPalette::Button, systemColour(15));
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(designFont(kSansSerif, 8.25));
}

void Form1::applyLook() {
    ui_->Label1->setFont(designFont(kSansSerif, 9.75, true));
    ui_->Label6->setFont(designFont(kSansSerif, 9.75, true));
    ui_->Label2->setFont(designFont(kSansSerif, 9.75));
    ui_->Check1->setFont(designFont(kSymbols, 11.25));
    ui_->Check1->setText(symbolText(QStringLiteral("l")));
    ui_->Text1->setFont(designFont(kSymbols, 8.25));

    for (QLabel* label : findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }

    makeSurface(ui_->Shape1, QColor(kNavy));
    makeSurface(ui_->Shape2, systemColour(5));
    makeSurface(ui_->Shape4, QColor(kNavy));
    ui_->Frame1->setAutoFillBackground(true); // Shape4 lies under it, unseen
    for (QWidget* dark : {ui_->Line1, ui_->Line3, ui_->Line6, ui_->Line7}) {
        makeSurface(dark, systemColour(12));
    }
    for (QWidget* light : {ui_->Line2, ui_->Line4, ui_->Line5}) {
        makeSurface(light, Qt::white);
    }
    makeSurface(ui_->Line8, systemColour(9));

    setTextColour(ui_->Label6, QColor(255, 0, 0));
    ui_->Label6->setAutoFillBackground(true);
    {
        QPalette p = ui_->Label6->palette();
        p.setColor(QPalette::Window, systemColour(9));
        ui_->Label6->setPalette(p);
    }
    ui_->Label6->setMouseTracking(true);
    setTextColour(ui_->Label1, QColor(kNavy));
    setTextColour(ui_->Label2, QColor(kNavy));
    for (QLabel* advice : {ui_->Label7, ui_->Label8, ui_->Label9}) {
        setTextColour(advice, systemColour(17));
    }
    setBackgroundColour(ui_->Text1, systemColour(11));
    setBackgroundColour(ui_->Combo5, systemColour(4));
}

void Form1::describeForAccessibility() {
    // Combo boxes are named by the label beside them, the masking button by what it does.
    const std::pair<QLabel*, QWidget*> labelled[] = {{ui_->Label3, ui_->Combo1},
                                                     {ui_->Label5, ui_->Combo3},
                                                     {ui_->Label4, ui_->Combo2},
                                                     {ui_->Label10, ui_->Combo4}};
    for (auto [label, control] : labelled) {
        label->setBuddy(control);
        control->setAccessibleName(label->text());
    }
    ui_->Combo5->setAccessibleName(QStringLiteral("Nom d'utilisateur à ajouter"));
    ui_->Text1->setAccessibleName(QStringLiteral("Code PUK"));
    ui_->Check1->setAccessibleName(QStringLiteral("Masquer le code PUK"));
    for (QWidget* w : findChildren<QWidget*>()) {
        w->setAccessibleDescription(w->toolTip());
    }
}

void Form1::setToolTip(QWidget* widget, const QString& tip) {
    widget->setToolTip(tip);
    widget->setAccessibleDescription(tip);
}

void Form1::bindEvents() {
    // Each container's options form their own group, for the checked state and for the Tab
    // order alike (Qt's automatic grouping reaches into the nested destination frame).
    auto* encoding = new QButtonGroup(this);
    encoding->addButton(ui_->Option0);
    encoding->addButton(ui_->Option1);
    auto* destination = new QButtonGroup(this);
    destination->addButton(ui_->Option2);
    destination->addButton(ui_->Option4);
    destination->addButton(ui_->Option3);
    tabStopsAtSelectedOption(encoding);
    tabStopsAtSelectedOption(destination);

    combo1_->onClick([this] { Combo1_Click(); });
    combo2_->onClick([this] { Combo2_Click(); });
    combo3_->onClick([this] { Combo3_Click(); });
    connect(ui_->Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(ui_->Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(ui_->Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(ui_->Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(ui_->Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(ui_->Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    connect(ui_->Check10, &QCheckBox::stateChanged, this, [this] { Check10_Click(); });
    connect(ui_->Check1, &QPushButton::toggled, this, [this] { Check1_Click(); });
    connect(ui_->Option0, &QRadioButton::clicked, this, [this] { Option0_Click(); });
    connect(ui_->Option1, &QRadioButton::clicked, this, [this] { Option1_Click(); });
    connect(ui_->Option2, &QRadioButton::clicked, this, [this] { Option2_Click(); });
    connect(ui_->Option3, &QRadioButton::clicked, this, [this] { Option3_Click(); });
    connect(ui_->Option4, &QRadioButton::clicked, this, [this] { Option4_Click(); });
    combo5_->onClick([this] { Combo5_Click(); });
    combo5_->onKeyPress([this](int& code) { Combo5_KeyPress(code); });
    combo5_->onLostFocus([this] { Combo5_LostFocus(); });
    onLostFocus(ui_->Text1, [this] { Text1_LostFocus(); });
    ui_->Label6->installEventFilter(this);
}

void Form1::warn(const std::string& text, const std::string& title) {
    services_.messageBox.show(text, MessageIcon::Exclamation, MessageButtons::Ok, title);
}

engine::GenerationSettings Form1::ReadSettings() const {
    engine::GenerationSettings s;
    s.lengthText = u32(combo1_->text());
    s.segmentsText = u32(combo3_->text());
    s.countText = u32(combo4_->text());
    const QCheckBox* classes[] = {ui_->Check2, ui_->Check3, ui_->Check4, ui_->Check5,
                                  ui_->Check6, ui_->Check7, ui_->Check8};
    for (std::size_t i = 0; i < engine::kClassCount; ++i) {
        s.classes[i] = checkValue(classes[i]) != 0;
    }
    s.associate = checkValue(ui_->Check10) != 0;
    s.userCount = combo5_->listCount();
    for (int i = 0; i < ui_->List2->count(); ++i) {
        s.userNames.push_back(u32(ui_->List2->item(i)->text()));
    }
    s.irreversible = ui_->Option1->isChecked();
    s.puk = u32(ui_->Text1->text());
    if (ui_->Option2->isChecked()) {
        s.destination = engine::Destination::Notepad;
    } else if (ui_->Option3->isChecked()) {
        s.destination = engine::Destination::Clipboard;
    } else {
        s.destination = engine::Destination::OtherProgram;
    }
    s.programPath = u32(caption(ui_->Option4));
    s.columnTitles = checkValue(ui_->Check9) != 0;
    return s;
}

void Form1::Form_Load() {
    for (int length = 3; length <= 30; ++length) {
        combo1_->addItem(QString::number(length));
    }
    for (const char* level : {"Faible", "Moyen", "Elevé", "Personalisé"}) {
        combo2_->addItem(QString::fromUtf8(level));
    }
    combo2_->setListIndex(1);
    combo1_->setListIndex(5);
    combo3_->setListIndex(0);
    for (int count = 1; count <= 100; ++count) {
        combo4_->addItem(QString::number(count));
    }
    combo4_->setListIndex(0);
}

void Form1::Combo1_Click() {
    const std::optional<std::int64_t> length = numberIn(combo1_->text());
    ui_->Label8->setText(length && *length < 8 ? QStringLiteral("/!\\ Déconseillé") : QString());
    combo3_->clear();
    if (length) {
        const std::int64_t last = std::min<std::int64_t>(*length, engine::kMaxLength + 1);
        for (std::int64_t d = 1; d < last; ++d) {
            if (*length % d == 0) {
                combo3_->addItem(QString::number(d));
            }
        }
    }
    combo3_->setListIndex(0);
}

void Form1::Combo2_Click() {
    QCheckBox* const boxes[] = {ui_->Check2, ui_->Check3, ui_->Check4, ui_->Check5,
                                ui_->Check6, ui_->Check7, ui_->Check8};
    for (QCheckBox* box : boxes) {
        box->setEnabled(false);
    }
    for (QCheckBox* box : boxes) {
        setCheckValue(box, 0);
    }
    switch (combo2_->listIndex()) {
    case 0:
        ui_->Label7->setText(QString());
        setCheckValue(ui_->Check2, 2);
        setCheckValue(ui_->Check3, 2);
        break;
    case 1:
        ui_->Label7->setText(QStringLiteral("Conseillé"));
        for (QCheckBox* box : {ui_->Check2, ui_->Check3, ui_->Check4, ui_->Check8}) {
            setCheckValue(box, 2);
        }
        break;
    case 2:
        ui_->Label7->setText(QString());
        for (QCheckBox* box : {ui_->Check2, ui_->Check3, ui_->Check4, ui_->Check7, ui_->Check5,
                               ui_->Check6, ui_->Check8}) {
            setCheckValue(box, 2);
        }
        break;
    case 3:
        ui_->Label7->setText(QString());
        for (QCheckBox* box : boxes) {
            box->setEnabled(true);
        }
        break;
    default:
        break;
    }
}

void Form1::Combo3_Click() {
    const std::optional<std::int64_t> length = numberIn(combo1_->text());
    const std::optional<std::int64_t> segments = numberIn(combo3_->text());
    if (!length || !segments || *segments == 0) {
        // No layout to describe: say nothing rather than divide by what is not a count.
        ui_->Label9->setText(QString());
        setToolTip(ui_->Label9, QString());
        setToolTip(ui_->Combo3, QString());
        return;
    }
    if (*length % *segments != 0) {
        warn("Cette combinaison n'est pas possible...");
    }
    const double q = static_cast<double>(*length) / static_cast<double>(*segments);
    QString text = combo3_->text() + QStringLiteral(" segment");
    if (*segments > 1) {
        text += QLatin1Char('s');
    }
    text += QStringLiteral(" de ") + frenchNumber(q);
    ui_->Label9->setText(text);

    // One "#" per character of a group, never more than the longest password.
    const double hashes = std::min(std::floor(q), static_cast<double>(engine::kMaxLength));
    const QString pattern(hashes > 0 ? static_cast<qsizetype>(hashes) : 0, QLatin1Char('#'));
    ui_->Label9->setToolTip(
        *segments > 1 ? pattern + QLatin1Char('-') + pattern + QStringLiteral("...") : pattern);
    ui_->Combo3->setToolTip(ui_->Label9->toolTip());
}

void Form1::Command1_Click() {
    services_.sound.playAsync("notify.wav");
    const engine::GenerationSettings settings = ReadSettings();

    engine::Batch batch;
    try {
        batch = engine::generateBatch(settings, services_.random);
    } catch (const platform::RandomSourceError&) {
        warn("Le générateur aléatoire du système ne répond pas : aucun mot de passe n'a été "
             "généré.");
        return;
    }
    if (batch.refusal) {
        warn(batch.refusal->message, batch.refusal->title);
        return;
    }
    for (const auto& line : batch.lines) {
        ui_->List1->addItem(QString::fromStdU32String(line));
    }

    delivery::DeliveryRequest request;
    switch (settings.destination) {
    case engine::Destination::Notepad:
        request.route = delivery::Route::Notepad;
        break;
    case engine::Destination::Clipboard:
        request.route = delivery::Route::Clipboard;
        break;
    case engine::Destination::OtherProgram:
        request.route = delivery::Route::OtherProgram;
        break;
    }
    if (settings.programPath != u32(QString::fromUtf8(kNoProgramCaption))) {
        request.programPath = delivery::toUtf8(settings.programPath);
    }
    for (int i = 0; i < ui_->List1->count(); ++i) {
        request.lines.push_back(u32(ui_->List1->item(i)->text()));
    }
    if (settings.columnTitles) {
        request.titles = delivery::columnTitleLine(settings.irreversible);
    }
    request.countText = settings.countText;
    request.count = engine::readWholeNumber(settings.countText).value;
    std::optional<std::string> failure;
    {
        const BusyCursor busy;
        failure = delivery::Deliver(request,
                                    {services_.launcher, services_.injector, services_.clipboard});
    }
    if (failure) {
        warn(*failure);
    }
    // The names have been used: both lists start again empty, so that what the window shows
    // is what the next generation pairs. The count keeps the number it showed.
    ui_->List2->clear();
    combo5_->clear();
}

void Form1::Check10_Click() {
    QWidget* const buttons[] = {ui_->Command4, ui_->Command5, ui_->Command6};
    if (checkValue(ui_->Check10) != 0) {
        setBackgroundColour(ui_->Combo5, systemColour(5));
        ui_->Combo5->setEnabled(true);
        for (QWidget* b : buttons) {
            b->setEnabled(true);
        }
    } else {
        ui_->Combo5->setEnabled(false);
        setBackgroundColour(ui_->Combo5, systemColour(4));
        for (QWidget* b : buttons) {
            b->setEnabled(false);
        }
    }
}

void Form1::Combo5_Click() {
    combo5_->setListIndex(combo5_->listCount() - 1);
    combo4_->setListIndex(combo5_->listCount() - 1);
}

void Form1::Combo5_KeyPress(int& keyAscii) {
    if (keyAscii == 13) {
        Command4_Click();
    }
}

void Form1::Combo5_LostFocus() {
    combo4_->setListIndex(combo5_->listCount() - 1);
}

void Form1::Command4_Click() {
    const QString name = combo5_->text();
    if (name.isEmpty()) {
        return;
    }
    if (combo5_->listCount() >= kMaxUsers) {
        warn("La liste ne peut pas contenir plus de " + std::to_string(kMaxUsers) +
             " utilisateurs : ce nom n'a pas été ajouté.");
        ui_->Combo5->setFocus(Qt::OtherFocusReason);
        return;
    }
    combo5_->addItem(name);
    ui_->List2->addItem(name);
    // Selecting the first entry brings the box to the last name and the count to the number
    // of names; when the first entry is already the selected one, nothing would run.
    const bool moves = combo5_->listIndex() != 0;
    combo5_->setListIndex(0);
    if (!moves) {
        Combo5_Click();
    }
    ui_->Combo5->setFocus(Qt::OtherFocusReason);
}

void Form1::Command5_Click() {
    const int selected = combo5_->listIndex();
    if (selected >= 0) {
        combo5_->removeItem(selected);
        if (selected < ui_->List2->count()) {
            delete ui_->List2->takeItem(selected);
        }
        if (combo5_->listCount() > 0) {
            combo5_->setListIndex(0);
        } else {
            // The last name is gone: an empty box; the count keeps its number, as after "Vider".
            combo5_->setText(QString());
        }
    }
    ui_->Combo5->setFocus(Qt::OtherFocusReason);
}

void Form1::Command6_Click() {
    const auto answer =
        services_.messageBox.show("Vider la liste complètement ?", MessageIcon::Exclamation,
                                  MessageButtons::YesNo, "Avertissement");
    if (answer == platform::MessageAnswer::Yes) {
        combo5_->clear();
        ui_->List2->clear();
    }
}

void Form1::Option0_Click() {
    setBackgroundColour(ui_->Text1, systemColour(11));
    ui_->Text1->setEnabled(false);
    ui_->Check1->setEnabled(false);
    services_.messageBox.show("Ce type de cryptage laisse apparaître le mot de passe en clair...",
                              MessageIcon::Information, MessageButtons::Ok, "Info");
}

void Form1::Option1_Click() {
    services_.messageBox.show("Entrez un code PUK (personal user code)\nqui servira à crypter le "
                              "code secret généré...",
                              MessageIcon::Information, MessageButtons::Ok, "Code PUK");
    setBackgroundColour(ui_->Text1, systemColour(5));
    ui_->Text1->setEnabled(true);
    ui_->Text1->setFocus(Qt::OtherFocusReason);
    ui_->Text1->setSelection(0, static_cast<int>(ui_->Text1->text().size()));
    ui_->Check1->setEnabled(true);
}

void Form1::Check1_Click() {
    if (ui_->Check1->isChecked()) {
        ui_->Text1->setFont(designFont(kSymbols, 8.25));
        ui_->Text1->setEchoMode(QLineEdit::Password);
    } else {
        ui_->Text1->setFont(designFont(kSansSerif, 8.25));
        ui_->Text1->setEchoMode(QLineEdit::Normal);
    }
}

void Form1::Text1_LostFocus() {
    const std::optional<std::int64_t> length = numberIn(combo1_->text());
    if (!length) {
        return; // no length to measure the code against
    }
    const auto characters = static_cast<double>(ui_->Text1->text().toUcs4().size());
    if (static_cast<double>(*length) / 2.0 > characters) {
        warn("Il est souhaitable d'utiliser un code PUK plus long !");
    }
}

void Form1::Option2_Click() {
    ui_->Check9->setEnabled(true);
}

void Form1::Option3_Click() {
    ui_->Check9->setEnabled(false);
}

void Form1::Option4_Click() {
    // Column titles are typed into the other program too, so the box is offered there.
    ui_->Check9->setEnabled(true);
    const std::vector<platform::FileFilter> filters{
        {"fichiers exécutable (*.exe)", "*.exe"},
        {" Tous les fichiers (*.*)", " *.*"},
    };
    if (auto chosen =
            services_.fileDialog.getOpenFileName("Envoyer vers...", filters, dialogFileName_)) {
        dialogFileName_ = *chosen;
    }
    if (!dialogFileName_.empty()) {
        setCaption(ui_->Option4, QString::fromStdString(dialogFileName_));
    }
}

void Form1::Command2_Click() {
    const auto answer =
        services_.messageBox.show("Souhaitez-vous réellement quitter le programme ?",
                                  MessageIcon::Question, MessageButtons::YesNoCancel, "Quitter ?");
    if (answer == platform::MessageAnswer::Yes) {
        lifecycle_.quit();
    }
}

void Form1::Command3_Click() {
    lifecycle_.reload();
}

void Form1::Label6_MouseMove() {
    QFont font = ui_->Label6->font();
    font.setItalic(true);
    ui_->Label6->setFont(font);
}

void Form1::Form_MouseMove() {
    QFont font = ui_->Label6->font();
    font.setItalic(false);
    ui_->Label6->setFont(font);
}

void Form1::Label6_Click() {
    Form_MouseMove();
    services_.messageBox.show("Tolvane, version 1.0.2\n"
                              "Création de mots de passe.\n\n"
                              "Logiciel libre distribué sous licence MIT : vous pouvez "
                              "l'utiliser, le copier, le modifier et le redistribuer, sans "
                              "aucune garantie.\n"
                              "© 2026 Les développeurs de Tolvane.",
                              MessageIcon::Information, MessageButtons::Ok, "");
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    // The bands and rules are part of the window's surface; controls are not.
    if (!childAt(event->position().toPoint())) {
        Form_MouseMove();
    }
    QWidget::mouseMoveEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->Label6) {
        if (event->type() == QEvent::MouseMove) {
            Label6_MouseMove();
        } else if (event->type() == QEvent::MouseButtonRelease &&
                   static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                   ui_->Label6->rect().contains(
                       static_cast<QMouseEvent*>(event)->position().toPoint())) {
            Label6_Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tolvane::ui
