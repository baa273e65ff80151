#pragma once

#include "ui/Services.h"

#include "ui/Form1.h"

#include <QPointer>

#include <functional>

namespace tolvane::ui {

// Owns the window: loads it, reloads it on reset, and ends the program on request.
class FormHost final : public WindowLifecycle {
public:
    FormHost(Services services, std::function<void()> quit);
    ~FormHost() override;

    // Creates the window (its load handler runs) and shows it centred on the screen.
    void load(bool show = true);
    Form1* form() const { return form_; }

    void reload() override;
    void quit() override;

private:
    Services services_;
    std::function<void()> quit_;
    QPointer<Form1> form_;
    bool shown_ = true;
};

} // namespace tolvane::ui
