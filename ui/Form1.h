#pragma once

#include "engine/GenerationSettings.h"
#include "ui/Controls.h"
#include "ui/Services.h"

#include <QWidget>

#include <map>
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
    void Check10_Click();
    void Combo5_Click();
    void Combo5_KeyPress(int& keyAscii);
    void Combo5_LostFocus();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Option0_Click();
    void Option1_Click();
    void Check1_Click();
    void Text1_LostFocus();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Command2_Click();
    void Command3_Click();
    void Label6_MouseMove();
    void Form_MouseMove();
    void Label6_Click();

    // The name list holds at most as many names as the count box offers.
    static constexpr int kMaxUsers = 100;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    // While a generation runs (the desktop may be asking the user), closing the window waits
    // for it to end, then closes.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bindEvents();
    void warn(const std::string& text, const std::string& title = "Avertissement");

    std::unique_ptr<Ui::Form1> ui_;
    Services services_;
    WindowLifecycle& lifecycle_;
    std::unique_ptr<ComboControl> combo1_, combo2_, combo3_, combo4_, combo5_;
    std::string dialogFileName_; // the open-file dialog keeps its last path
    std::string chosenProgram_;  // for "Vers un autre programme", empty until one is chosen
    bool generating_ = false;    // Command1_Click runs
    // Per command button: whether its press came while a generation ran.
    std::map<const QObject*, bool> pressedWhileGenerating_;
    bool closeAsked_ = false;       // the window was closed meanwhile
    bool spreadsheetNoted_ = false; // the note on typing into a spreadsheet has been shown
};

} // namespace tolvane::ui
