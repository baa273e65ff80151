#include "ui/Form1.h"

#include "engine/Choices.h"
#include "platform/Keystrokes.h"
#include "platform/Wipe.h"
#include "ui/Form1Look.h"
#include "ui/GenerateAndDeliver.h"
#include "ui_Form1.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QMouseEvent>

namespace tolvane::ui {

namespace {

using platform::MessageButtons;
using platform::MessageIcon;

std::u32string u32(const QString& text) {
    return text.toStdU32String();
}

QString qstr(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

Form1::Form1(Services services, WindowLifecycle& lifecycle, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Form1>()), services_(services),
      lifecycle_(lifecycle) {
    applyWindowLook(*this);
    ui_->setupUi(this);
    combo1_ = std::make_unique<ComboControl>(ui_->Combo1);
    combo2_ = std::make_unique<ComboControl>(ui_->Combo2);
    combo3_ = std::make_unique<ComboControl>(ui_->Combo3);
    combo4_ = std::make_unique<ComboControl>(ui_->Combo4);
    combo5_ = std::make_unique<ComboControl>(ui_->Combo5);
    applyControlsLook(*this, *ui_);
    describeForAccessibility(*this, *ui_);
    bindEvents();
    Form_Load();
    ui_->Combo1->setFocus(Qt::OtherFocusReason);
}

Form1::~Form1() {
    // The reset and the window's closing free the result list: its lines are overwritten first,
    // where the list keeps them (a copy of an item's text shares its buffer).
    for (int i = 0; i < ui_->List1->count(); ++i) {
        const QString line = ui_->List1->item(i)->text();
        platform::wipeBytes(const_cast<QChar*>(line.constData()),
                            static_cast<std::size_t>(line.size()) * sizeof(QChar));
    }
}

ComboControl& Form1::combo(int number) {
    ComboControl* const first[] = {combo1_.get(), combo2_.get(), combo3_.get(), combo4_.get()};
    return number >= 1 && number <= 4 ? *first[number - 1] : *combo5_;
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
    // While a generation runs, "Générer", "Annuler" and "RAZ" do nothing, however they are
    // activated: a click whose press came meanwhile is refused too, as is an activation that
    // waited in the queue (the pointer, the keyboard, an assistive technology's action).
    const std::pair<QPushButton*, void (Form1::*)()> commands[] = {
        {ui_->Command1, &Form1::Command1_Click},
        {ui_->Command2, &Form1::Command2_Click},
        {ui_->Command3, &Form1::Command3_Click}};
    for (auto [button, handler] : commands) {
        connect(button, &QPushButton::pressed, this,
                [this, button] { pressedWhileGenerating_[button] = generating_; });
        connect(button, &QPushButton::clicked, this, [this, button, handler] {
            const bool refused = generating_ || pressedWhileGenerating_[button];
            pressedWhileGenerating_[button] = false;
            if (!refused) {
                (this->*handler)();
            }
        });
    }
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
    for (int length = engine::kFirstListedLength; length <= engine::kLastListedLength; ++length) {
        combo1_->addItem(QString::number(length));
    }
    for (std::string_view level : engine::kLevelNames) {
        combo2_->addItem(qstr(level));
    }
    combo2_->setListIndex(engine::kStartLevel);
    combo1_->setListIndex(engine::kStartLength - engine::kFirstListedLength);
    combo3_->setListIndex(0);
    for (int count = engine::kFirstListedCount; count <= engine::kLastListedCount; ++count) {
        combo4_->addItem(QString::number(count));
    }
    combo4_->setListIndex(0);
}

void Form1::Combo1_Click() {
    ui_->Label8->setText(qstr(engine::lengthAdvice(u32(combo1_->text()))));
    combo3_->clear();
    const engine::WholeNumber length = engine::readWholeNumber(u32(combo1_->text()));
    if (length.ok()) {
        for (std::int64_t segments : engine::segmentChoices(length.value)) {
            combo3_->addItem(QString::number(segments));
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
    const std::optional<engine::LevelPreset> preset = engine::levelPreset(combo2_->listIndex());
    if (!preset) {
        return;
    }
    ui_->Label7->setText(qstr(preset->advice));
    for (std::size_t i = 0; i < engine::kClassCount; ++i) {
        if (preset->marked[i]) {
            setCheckValue(boxes[i], 2);
        }
        boxes[i]->setEnabled(preset->userChooses);
    }
}

void Form1::Combo3_Click() {
    const std::optional<engine::SegmentLayout> layout =
        engine::segmentLayout(u32(combo1_->text()), u32(combo3_->text()));
    if (!layout) {
        // No layout to describe: say nothing rather than divide by what is not a count.
        ui_->Label9->setText(QString());
        setDescribedToolTip(ui_->Label9, QString());
        setDescribedToolTip(ui_->Combo3, QString());
        return;
    }
    if (!layout->even) {
        warn("Cette combinaison n'est pas possible...");
    }
    ui_->Label9->setText(QString::fromStdU32String(layout->caption));
    ui_->Label9->setToolTip(QString::fromStdU32String(layout->pattern));
    ui_->Combo3->setToolTip(ui_->Label9->toolTip());
}

void Form1::Command1_Click() {
    if (generating_) {
        return; // one generation at a time
    }
    services_.sound.playAsync("notify.wav");
    generating_ = true;
    const GenerationOutcome outcome = generateAndDeliver(
        ReadSettings(), chosenProgram_, *ui_->List1, services_, &spreadsheetNoted_);
    if (outcome.drawn) {
        // The names have been used: both lists start again empty, so that what the window
        // shows is what the next generation pairs. The count keeps the number it showed.
        ui_->List2->clear();
        combo5_->clear();
    }
    // What the person asked while the keys went out and the window did not read it (a name
    // added, a click) is handled now: "Générer", "RAZ" and "Annuler" still as asked during
    // the generation.
    QCoreApplication::processEvents();
    generating_ = false;
    if (closeAsked_) {
        // The person has closed the window meanwhile: it closes now, with nothing more to say.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (outcome.notice) {
        warn(outcome.notice->text, outcome.notice->title);
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    if (generating_) {
        closeAsked_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
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
