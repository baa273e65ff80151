#pragma once

#include "engine/GenerationSettings.h"
#include "ui/Controls.h"
#include "ui/Services.h"

#include <QWidget>

#include <memory>

namespace Ui {
class Form1;
}

namespace tolvane::ui {

// The one window: every setting, result and command lives in its controls.
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(Services services, WindowLifecycle& lifecycle, QWidget* parent = nullptr);
    ~Form1() override;

    // Designer names, for the handlers and the tests.
    Ui::Form1& controls() { return *ui_; }
    ComboControl& combo(int number);

    // The settings a generation reads, taken afresh from the controls.
    engine::GenerationSettings ReadSettings() const;

    // Handlers, named after their control and event.
    void Form_Load();
    void Combo1_Click();
    void Combo2_Click();
    void Combo3_Click();
    void Command1_Click();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void applyLook();
    void bindEvents();
    void warn(const std::string& text, const std::string& title = "Avertissement");

    std::unique_ptr<Ui::Form1> ui_;
    Services services_;
    WindowLifecycle& lifecycle_;
    std::unique_ptr<ComboControl> combo1_, combo2_, combo3_, combo4_, combo5_;
};

} // namespace tolvane::ui
