#include "ui/Form1Look.h"

#include "ui/Look.h"
#include "ui_Form1.h"

#include <QDir>
#include <QEvent>
#include <QIcon>
#include <QImageReader>
#include <QLabel>

#include <algorithm>
#include <cmath>

namespace tolvane::ui {

namespace {

constexpr int kNavy = 0x000080;

// Fills a widget's rectangle with one colour and lets the mouse through to the window surface.
void makeSurface(QWidget* widget, const QColor& colour) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
}

// Shows a picture drawn for the pixel density of the screen it is on, and draws it again when
// the window moves to a screen of another density.
class SharpPicture final : public QObject {
public:
    SharpPicture(QLabel* label, const QString& name) : QObject(label), label_(label), name_(name) {
        label->setPixmap(picture(name, label->devicePixelRatioF()));
        label->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint &&
            label_->pixmap().devicePixelRatio() != label_->devicePixelRatioF()) {
            label_->setPixmap(picture(name_, label_->devicePixelRatioF()));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QLabel* label_;
    QString name_;
};

} // namespace

QPixmap picture(const QString& name, qreal devicePixelRatio) {
    const QString base = QStringLiteral(":/images/") + name;
    const QSize natural = QImageReader(base + QStringLiteral(".png")).size();
    // The render of the next whole scale up, reduced for a fractional one.
    const int scale = std::clamp(static_cast<int>(std::ceil(devicePixelRatio)), 1, 3);
    QPixmap pixmap(scale == 1 ? base + QStringLiteral(".png")
                              : base + QStringLiteral("@%1x.png").arg(scale));
    const QSize wanted = (QSizeF(natural) * devicePixelRatio).toSize();
    if (pixmap.size() != wanted) {
        pixmap = pixmap.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon windowIcon() {
    QIcon icon;
    const QDir images(QStringLiteral(":/images"));
    for (const QString& render : images.entryList({QStringLiteral("tolvane-*.png")})) {
        icon.addFile(images.filePath(render));
    }
    return icon;
}

void applyWindowLook(QWidget& window) {
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window.setFixedSize(511, 396);
    window.setMouseTracking(true);

    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, systemColour(15));
    palette.setColor(QPalette::Button, systemColour(15));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.setFont(designFont(kSansSerif, 8.25));
    window.setWindowIcon(windowIcon());
}

void applyControlsLook(QWidget& window, Ui::Form1& c) {
    c.Label1->setFont(designFont(kSansSerif, 9.75, true));
    c.Label6->setFont(designFont(kSansSerif, 9.75, true));
    c.Label2->setFont(designFont(kSansSerif, 9.75));
    c.Check1->setFont(designFont(kSymbols, 11.25));
    c.Check1->setText(symbolText(QStringLiteral("l")));
    c.Text1->setFont(designFont(kSymbols, 8.25));

    for (QLabel* label : window.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    new SharpPicture(c.Image1, QStringLiteral("padlock"));
    new SharpPicture(c.Image2, QStringLiteral("keyring"));
    new SharpPicture(c.Image3, QStringLiteral("tools"));

    makeSurface(c.Shape1, QColor(kNavy));
    makeSurface(c.Shape2, systemColour(5));
    makeSurface(c.Shape4, QColor(kNavy));
    c.Frame1->setAutoFillBackground(true); // Shape4 lies under it, unseen
    for (QWidget* dark : {c.Line1, c.Line3, c.Line6, c.Line7}) {
        makeSurface(dark, systemColour(12));
    }
    for (QWidget* light : {c.Line2, c.Line4, c.Line5}) {
        makeSurface(light, Qt::white);
    }
    makeSurface(c.Line8, systemColour(9));

    setTextColour(c.Label6, QColor(255, 0, 0));
    c.Label6->setAutoFillBackground(true);
    {
        QPalette p = c.Label6->palette();
        p.setColor(QPalette::Window, systemColour(9));
        c.Label6->setPalette(p);
    }
    c.Label6->setMouseTracking(true);
    setTextColour(c.Label1, QColor(kNavy));
    setTextColour(c.Label2, QColor(kNavy));
    for (QLabel* advice : {c.Label7, c.Label8, c.Label9}) {
        setTextColour(advice, systemColour(17));
    }
    setBackgroundColour(c.Text1, systemColour(11));
    setBackgroundColour(c.Combo5, systemColour(4));
}

void describeForAccessibility(QWidget& window, Ui::Form1& c) {
    // Combo boxes are named by the label beside them (its buddy), the name box by what it takes,
    // the masking button by what it does.
    const std::pair<QLabel*, QWidget*> labelled[] = {
        {c.Label3, c.Combo1}, {c.Label5, c.Combo3}, {c.Label4, c.Combo2}, {c.Label10, c.Combo4}};
    for (auto [label, control] : labelled) {
        label->setBuddy(control);
    }
    c.Combo5->setAccessibleName(QStringLiteral("Nom d'utilisateur à ajouter"));
    c.Text1->setAccessibleName(QStringLiteral("Code PUK"));
    c.Check1->setAccessibleName(QStringLiteral("Masquer le code PUK"));
    for (QWidget* w : window.findChildren<QWidget*>()) {
        w->setAccessibleDescription(w->toolTip());
    }
}

void setDescribedToolTip(QWidget* widget, const QString& tip) {
    widget->setToolTip(tip);
    widget->setAccessibleDescription(tip);
}

void showUsable(QWidget* box, bool usable, int unusableColour) {
    setBackgroundColour(box, systemColour(usable ? 5 : unusableColour));
}

void showPukMasked(Ui::Form1& c, bool masked) {
    c.Text1->setFont(designFont(masked ? kSymbols : kSansSerif, 8.25));
    c.Text1->setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
}

void setAboutHovered(Ui::Form1& c, bool hovered) {
    QFont font = c.Label6->font();
    font.setItalic(hovered);
    c.Label6->setFont(font);
}

} // namespace tolvane::ui
