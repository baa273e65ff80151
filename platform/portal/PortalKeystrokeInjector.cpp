#include "platform/portal/PortalKeystrokeInjector.h"

#include "platform/Typing.h"
#include "platform/Wipe.h"
#include "platform/linux/KeyboardLayouts.h"
#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"
#include "platform/linux/TypingRun.h"
#include "platform/portal/PortalDelivery.h"
#include "platform/portal/PortalKeys.h"
#include "platform/portal/PortalProtocol.h"
#include "platform/portal/PortalSession.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <thread>
#include <utility>

namespace tolvane::platform::portal {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(20);

const char* const kWhy = "Pour taper les mots de passe dans le programme qui va s'ouvrir, "
                         "Tolvane doit utiliser le clavier à travers le bureau. ";
const char* const kLasts = " L'accord vaut jusqu'à la fermeture ou la remise à zéro de cette "
                           "fenêtre, et Tolvane n'en garde aucune trace.";

QGuiApplication* guiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance());
}

bool contains(const std::string& list, const char* name) {
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (list.compare(start, end - start, name) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

PortalKeystrokeInjector::PortalKeystrokeInjector(MessageBox& messages, QDBusConnection bus)
    : PortalKeystrokeInjector(messages, std::move(bus), Options{}) {}

PortalKeystrokeInjector::PortalKeystrokeInjector(MessageBox& messages, QDBusConnection bus,
                                                 Options options)
    : messages_(messages), bus_(std::move(bus)), options_(std::move(options)) {}

PortalKeystrokeInjector::~PortalKeystrokeInjector() {
    endSession();
    if (relayed_) {
        leaveRelay();
    }
}

// The relay ends with its connection; its entry in the process table is collected.
void PortalKeystrokeInjector::leaveRelay() {
    const QString name = bus_.name();
    bus_ = QDBusConnection(QString()); // the last reference: the connection closes now
    QDBusConnection::disconnectFromBus(name);
    if (relay_ > 0) {
        linux_desktop::collect(relay_, std::chrono::seconds(1));
        relay_ = 0;
    }
}

bool PortalKeystrokeInjector::offered(QDBusConnection bus) {
    return PortalSession::offered(std::move(bus), std::chrono::seconds(10));
}

std::string PortalKeystrokeInjector::explanation(const std::string& desktop) {
    if (contains(desktop, "GNOME")) {
        return std::string(kWhy) +
               "GNOME va vous le demander : dans sa fenêtre, activez d'abord « Autoriser "
               "l’interaction à distance », puis cliquez sur « Partager » (sans l'interaction à "
               "distance, « Partager » ne donne pas le clavier)." +
               kLasts;
    }
    if (contains(desktop, "KDE")) {
        return std::string(kWhy) +
               "KDE peut vous demander d'autoriser le contrôle à distance : acceptez-le. Une "
               "notification signale ensuite que le contrôle à distance a commencé." +
               kLasts;
    }
    return std::string(kWhy) +
           "Le bureau peut vous demander votre accord : acceptez le partage du clavier." + kLasts;
}

bool PortalKeystrokeInjector::ownWindowFocused() const {
    if (options_.ownWindowFocused) {
        return options_.ownWindowFocused();
    }
    return guiApplication() && QGuiApplication::focusWindow() != nullptr;
}

void PortalKeystrokeInjector::pumpEvents() const {
    if (QCoreApplication::instance()) {
        // The bus and the window system only: no click or key reaches the window meanwhile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

bool PortalKeystrokeInjector::waitFor(const std::function<bool()>& done,
                                      std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        pumpEvents();
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

PortalSession::Timeouts timeoutsOf(const PortalKeystrokeInjector::Options& options) {
    PortalSession::Timeouts timeouts;
    timeouts.call = options.call;
    timeouts.answer = options.answer;
    timeouts.permission = options.permission;
    return timeouts;
}

typing::Waits PortalKeystrokeInjector::waits() const {
    typing::Waits waits;
    waits.window = options_.window;
    waits.settled = options_.settled;
    return waits;
}

bool PortalKeystrokeInjector::reachBus() {
    if (!options_.relay.empty() && !(relayed_ && bus_.isConnected())) {
        if (relayed_) { // the relay ended with the bus: a new one
            leaveRelay();
        }
        const std::vector<pid_t> before = linux_desktop::childrenRunning(options_.relay);
        bus_ = PortalSession::throughRelay(options_.relay);
        relayed_ = true;
        for (pid_t pid : linux_desktop::childrenRunning(options_.relay)) {
            if (std::find(before.begin(), before.end(), pid) == before.end()) {
                relay_ = pid; // the one this connection started
            }
        }
    }
    return bus_.isConnected();
}

void PortalKeystrokeInjector::beforeSecrets() {
    reachBus();
}

std::string PortalKeystrokeInjector::unavailableReason() {
    pumpEvents(); // news from the desktop since the last delivery
    if (session_ && session_->isOpen()) {
        return {};
    }
    // Stopped from the desktop meanwhile: asked again, as the first time.
    endSession();
    if (!reachBus()) {
        return "Tolvane n'a pas pu joindre le bureau par son programme relais (" + options_.relay +
               ") : rien n'a été tapé.";
    }
    if (!offered(bus_)) {
        return kDesktopCannotType;
    }
    // The window that asks, before the explanation's box takes the focus.
    QWindow* owner = guiApplication() ? QGuiApplication::focusWindow() : nullptr;
    messages_.show(explanation(options_.desktop), MessageIcon::Information, MessageButtons::Ok,
                   std::string());
    // Asked to end while the box was up: nothing is asked of the desktop.
    if (linux_desktop::stopRequested()) {
        return typing::nothingTyped(typing::kEnding);
    }
    session_ = std::make_unique<PortalSession>(bus_, timeoutsOf(options_), options_.notice);
    if (std::string refused = session_->open(); !refused.empty()) {
        session_.reset();
        return refused;
    }
    if (owner) {
        owner_ = owner;
        ownerGone_ = QObject::connect(owner, &QObject::destroyed, [this] { endSession(); });
    }
    // The desktop's dialog has closed: the focus goes back to the window that asked.
    waitFor([this] { return ownWindowFocused(); }, options_.focusBack);
    return {};
}

Preparation PortalKeystrokeInjector::prepare(const KeystrokeScript& script, std::u32string_view) {
    // Read while this program's window still has the focus: the compositor tells the locks
    // and the active layout only to the window that has it.
    keyboard_ = options_.keyboard ? options_.keyboard() : UserKeyboard{};
    // The target's window is a new one: where the desktop keeps a layout per window, it may
    // not get the one this program's window has.
    const linux_desktop::NewWindowLayout layout = linux_desktop::newWindowLayout(options_.desktop);
    if (layout.rule == linux_desktop::NewWindowLayout::Rule::First) {
        keyboard_.group = 0;
    } else if (layout.rule == linux_desktop::NewWindowLayout::Rule::Unknown) {
        keyboard_.layoutUnknown = layout.why;
    }
    PortalKeyPlan plan = planPortalKeys(keyboard_, script);
    Preparation prepared{plan.error, plan.untypable, plan.onLayout};
    wipeRecords(plan.keys);
    wipe(plan.untypable);
    return prepared;
}

std::vector<std::string> PortalKeystrokeInjector::beforeLaunch() {
    // A box of this program (a question just answered) may have closed a moment ago: the
    // desktop gives the focus back to the window first.
    focusedAtLaunch_ = waitFor([this] { return ownWindowFocused(); }, options_.focusBack);
    return {};
}

// The desktop tells no window: the script given is typed.
InjectionResult PortalKeystrokeInjector::typeInto(const LaunchResult& target,
                                                  const KeystrokeScript& script,
                                                  const ScriptChooser&) {
    return send(
        target, [this](const KeystrokeScript& s) { return planPortalKeys(keyboard_, s); }, script);
}

bool PortalKeystrokeInjector::canPaste() {
    return planPasteKeys(keyboard_).error.empty();
}

InjectionResult PortalKeystrokeInjector::pasteInto(const LaunchResult& target,
                                                   const std::function<void()>& justBefore) {
    return send(
        target, [this](const KeystrokeScript&) { return planPasteKeys(keyboard_); }, {},
        justBefore);
}

InjectionResult PortalKeystrokeInjector::send(
    const LaunchResult& target, std::function<PortalKeyPlan(const KeystrokeScript&)> planner,
    const KeystrokeScript& script, const std::function<void()>& justBefore) {
    if (!session_) {
        return {false, typing::nothingTyped("L'accord du bureau pour taper au clavier a pris fin")};
    }
    // Events are read while keys go out: a session ended meanwhile (its window closed) is
    // freed only once the delivery no longer uses it.
    struct Sending {
        PortalKeystrokeInjector& injector;
        explicit Sending(PortalKeystrokeInjector& i) : injector(i) { injector.sending_ = true; }
        ~Sending() {
            injector.sending_ = false;
            if (std::exchange(injector.endAfterSending_, false)) {
                injector.endSession();
            }
        }
    } sending{*this};
    Delivery delivery(*this, target, std::move(planner), justBefore);
    return typing::run(delivery, script, {}, readBack());
}

void PortalKeystrokeInjector::endSession() {
    if (sending_) {
        endAfterSending_ = true;
        return;
    }
    QObject::disconnect(ownerGone_);
    owner_.clear();
    session_.reset();
}

} // namespace tolvane::platform::portal
