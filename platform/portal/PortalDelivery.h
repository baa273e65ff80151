#pragma once

#include "platform/Wipe.h"
#include "platform/linux/Processes.h"
#include "platform/linux/TypingRun.h"
#include "platform/portal/PortalKeystrokeInjector.h"
#include "platform/portal/PortalSession.h"

#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace tolvane::platform::portal {

// A delivery through the portal. These desktops tell no program which window has the keyboard:
// the sign that the program's window is up is that it took the focus from this program's
// window, and typing goes on only while this program's window has not got it back.
class PortalKeystrokeInjector::Delivery final : public typing::Desktop {
public:
    Delivery(PortalKeystrokeInjector& injector, const LaunchResult& target,
             std::function<PortalKeyPlan(const KeystrokeScript&)> planner,
             const std::function<void()>& justBefore)
        : Desktop(target, injector.waits()), injector_(injector), planner_(std::move(planner)),
          justBefore_(justBefore) {
        held_.reserve(8);
    }
    ~Delivery() override {
        wipeRecords(plan_.keys);
        wipe(plan_.untypable);
        wipeRecords(held_);
    }

    std::string open() override {
        if (!session().isOpen()) {
            return ended();
        }
        if (!injector_.focusedAtLaunch_) {
            return "La fenêtre de Tolvane n'avait pas le focus au lancement de « " +
                   target_.program +
                   " » : rien ne montre où iraient les touches, rien n'a été tapé. Cliquez dans "
                   "la fenêtre de Tolvane puis recommencez.";
        }
        return {};
    }
    typing::Sight look() override {
        if (std::exchange(looked_, true)) {
            std::this_thread::sleep_for(typing::kLookEvery);
        }
        injector_.pumpEvents();
        typing::Sight sight;
        if (!session().isOpen()) {
            sight.end = ended();
            return sight;
        }
        sight.shown = !injector_.ownWindowFocused();
        if (target_.pid > 0) {
            sight.cpuTicks = linux_desktop::treeCpuTime(target_.pid);
        }
        return sight;
    }
    // Nothing took the focus from this program's window.
    std::string notShown() override { return typing::windowTookNoFocus(target_.program); }
    Focus focus() override { return Focus::Taken; }
    Preparation plan(const KeystrokeScript& script) override {
        plan_ = planner_(script);
        for (std::size_t i = 0; i < plan_.keys.size(); ++i) {
            if (i == 0 || plan_.keys[i].startsCharacter) {
                starts_.push_back(i);
            }
        }
        // Qt 5 programs take a character composed from a dead key the moment it arrives, ahead
        // of the keys before it that they have read but not handled yet: before a dead key,
        // those keys are given time to be handled.
        composedOvertakes_ = target_.pid <= 0 ||
                             linux_desktop::loadsLibrary(target_.pid, "libQt5Gui").value_or(true);
        return {plan_.error, plan_.untypable, plan_.onLayout};
    }
    void begin() override {
        if (justBefore_) {
            justBefore_();
        }
    }
    std::size_t parts() const override { return starts_.size(); }
    typing::Halt send(std::size_t part) override;
    bool restore() override;
    bool pump() override {
        injector_.pumpEvents();
        std::this_thread::sleep_for(typing::kLookEvery);
        return true;
    }
    // Every key was taken. Which window has the focus is not told: this program's window
    // getting it back may be the target's closing on the last Enter, or a dialog opening.
    typing::Halt after() override { return {}; }

private:
    PortalSession& session() { return *injector_.session_; }
    static std::string ended() {
        return typing::nothingTyped("L'accord du bureau pour taper au clavier a pris fin");
    }
    typing::Halt listening() {
        injector_.pumpEvents();
        if (!session().isOpen()) {
            return {typing::Halt::Other, "Le bureau a mis fin au partage du clavier"};
        }
        if (injector_.ownWindowFocused()) {
            return {typing::Halt::Other, "La fenêtre de Tolvane a repris le focus"};
        }
        return {};
    }

    PortalKeystrokeInjector& injector_;
    std::function<PortalKeyPlan(const KeystrokeScript&)> planner_;
    const std::function<void()>& justBefore_;
    PortalKeyPlan plan_;
    std::vector<std::size_t> starts_; // where each character begins: typing stops only there
    std::vector<PortalKey> held_;     // keys down now: released however typing ends
    std::size_t sent_ = 0;
    bool refused_ = false;
    bool looked_ = false;
    bool composedOvertakes_ = false;
    bool afterComposed_ = false;
};

} // namespace tolvane::platform::portal
