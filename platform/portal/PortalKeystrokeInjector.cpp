#include "platform/portal/PortalKeystrokeInjector.h"

#include "platform/Typing.h"
#include "platform/Wipe.h"
#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"
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
// Keys leave at a pace any client reads: a compositor drops a client whose queue fills up.
constexpr auto kKeyInterval = std::chrono::milliseconds(1);
// Before a dead key, where the target takes composed characters ahead of the keys before them.
constexpr auto kBeforeComposing = std::chrono::milliseconds(250);

const char* const kWhy = "Pour taper les mots de passe dans le programme qui va s'ouvrir, "
                         "Tolvane doit utiliser le clavier à travers le bureau. ";
const char* const kLasts = " L'accord vaut jusqu'à la fermeture ou la remise à zéro de cette "
                           "fenêtre, et Tolvane n'en garde aucune trace.";
namespace says = typing;

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
        QDBusConnection::disconnectFromBus(bus_.name()); // the relay ends with it
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

bool PortalKeystrokeInjector::reachBus() {
    if (!options_.relay.empty() && !(relayed_ && bus_.isConnected())) {
        if (relayed_) { // the relay ended with the bus: a new one
            QDBusConnection::disconnectFromBus(bus_.name());
        }
        bus_ = PortalSession::throughRelay(options_.relay);
        relayed_ = true;
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
        return says::nothingTyped(says::kEnding);
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
    PortalKeyPlan plan = planPortalKeys(keyboard_, script);
    return send(target, plan);
}

bool PortalKeystrokeInjector::canPaste() {
    return planPasteKeys(keyboard_).error.empty();
}

InjectionResult PortalKeystrokeInjector::pasteInto(const LaunchResult& target,
                                                   const std::function<void()>& justBefore) {
    PortalKeyPlan plan = planPasteKeys(keyboard_);
    return send(target, plan, justBefore);
}

InjectionResult PortalKeystrokeInjector::send(const LaunchResult& target, PortalKeyPlan& plan,
                                              const std::function<void()>& justBefore) {
    const auto failure = [](std::string error) { return InjectionResult{false, std::move(error)}; };
    // Events are read while keys go out: a session ended meanwhile (its window closed) is
    // freed only once the loop no longer uses it.
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
    struct PlanWiper {
        PortalKeyPlan& plan;
        ~PlanWiper() {
            wipeRecords(plan.keys);
            wipe(plan.untypable);
        }
    } wiper{plan};
    if (!plan.error.empty()) {
        return failure(plan.error);
    }
    if (!plan.untypable.empty()) {
        return failure(untypableMessage(plan.untypable));
    }
    if (!session_ || !session_->isOpen()) {
        return failure(says::nothingTyped("L'accord du bureau pour taper au clavier a pris fin"));
    }
    const std::string program = "« " + target.program + " »";
    if (!focusedAtLaunch_) {
        return failure("La fenêtre de Tolvane n'avait pas le focus au lancement de " + program +
                       " : rien ne montre où iraient les touches, rien n'a été tapé. Cliquez "
                       "dans la fenêtre de Tolvane puis recommencez.");
    }
    // The sign that the program's window is up: it took the focus from this program's window.
    if (!waitFor(
            [this] {
                return !ownWindowFocused() || !session_->isOpen() || linux_desktop::stopRequested();
            },
            options_.window)) {
        return failure(says::windowTookNoFocus(target.program));
    }
    // A moment for the window to settle, in case the focus only passed through it.
    waitFor([this] { return ownWindowFocused() || !session_->isOpen(); }, options_.settle);
    // The program may still be starting behind its window (KWrite, a browser, a spreadsheet
    // dropping the keys it is sent meanwhile): keys go once it and the programs it runs have
    // been quiet a moment, as on every desktop that can see its processes.
    if (target.pid > 0) {
        const auto quiet =
            linux_desktop::waitUntilQuiet(target.pid, typing::kSettled, options_.window, [this] {
                pumpEvents();
                // Otherwise the checks before the first key say why.
                if (ownWindowFocused() || !session_->isOpen() || linux_desktop::stopRequested()) {
                    return false;
                }
                std::this_thread::sleep_for(typing::kLookEvery);
                return true;
            });
        if (quiet == linux_desktop::Quiet::TimedOut) {
            return failure(says::windowNotAnswering(target.program));
        }
    }

    bool typedSome = false;
    std::string stopped;
    // Keys down now (a character's modifiers and key): released however typing ends.
    std::vector<PortalKey> held;
    held.reserve(8);
    std::size_t sent = 0;
    // Qt 5 programs take a character composed from a dead key the moment it arrives, ahead of
    // the keys before it that they have read but not handled yet: before a dead key, those
    // keys are given time to be handled. A character composed right after another has none
    // waiting before it.
    const bool composedOvertakes =
        target.pid <= 0 || linux_desktop::loadsLibrary(target.pid, "libQt5Gui").value_or(true);
    bool afterComposed = false;
    if (justBefore) {
        justBefore();
    }
    for (const PortalKey& key : plan.keys) {
        // Between two characters only: a character, dead key and all, is never cut in two.
        if (key.startsCharacter) {
            pumpEvents();
            if (linux_desktop::stopRequested()) {
                stopped = says::kEnding;
            } else if (!session_->isOpen()) {
                stopped = "Le bureau a mis fin au partage du clavier";
            } else if (ownWindowFocused()) {
                stopped = "La fenêtre de Tolvane a repris le focus";
            }
            if (!stopped.empty()) {
                break;
            }
        }
        if (key.startsComposing && composedOvertakes && !afterComposed) {
            std::this_thread::sleep_for(kBeforeComposing);
        }
        if (key.startsCharacter) {
            afterComposed = key.startsComposing;
        }
        const bool taken = session_->send(key);
        ++sent;
        if (key.down) {
            held.push_back(key);
        } else {
            std::erase_if(held, [&](const PortalKey& k) {
                return k.keysym == key.keysym && k.value == key.value;
            });
        }
        typedSome = true; // perhaps pressed even when the portal answered otherwise
        if (!taken) {
            stopped = "Le bureau n'a pas pris une touche";
            break;
        }
        if (held.empty()) {
            std::this_thread::sleep_for(kKeyInterval);
        }
    }
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        PortalKey release = *it;
        release.down = false;
        session_->send(release);
    }
    wipeRecords(held);
    // The locks taken off are given back, however typing ended.
    if (sent >= plan.lockEvents && session_->isOpen()) {
        for (const PortalKey& key : plan.restore) {
            session_->send(key);
        }
    }
    if (!stopped.empty()) {
        return failure(says::stopped(stopped, typedSome));
    }
    return {true, {}};
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
