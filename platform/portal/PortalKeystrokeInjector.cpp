#include "platform/portal/PortalKeystrokeInjector.h"

#include "platform/Wipe.h"
#include "platform/linux/StopSignals.h"
#include "platform/portal/PortalKeys.h"
#include "platform/portal/PortalProtocol.h"
#include "platform/portal/PortalSession.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <thread>

namespace tolvane::platform::portal {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// Keys leave at a pace any client reads: a compositor drops a client whose queue fills up.
constexpr auto kKeyInterval = std::chrono::milliseconds(1);

const char* const kExplanation =
    "Pour taper les mots de passe dans le programme qui va s'ouvrir, Tolvane doit utiliser le "
    "clavier à travers le bureau. Le bureau peut vous demander votre accord : acceptez le partage "
    "du clavier. L'accord vaut jusqu'à la fermeture ou la remise à zéro de cette fenêtre, et "
    "Tolvane n'en garde aucune trace.";

QGuiApplication* guiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance());
}

} // namespace

PortalKeystrokeInjector::PortalKeystrokeInjector(MessageBox& messages, QDBusConnection bus)
    : PortalKeystrokeInjector(messages, std::move(bus), Options{}) {}

PortalKeystrokeInjector::PortalKeystrokeInjector(MessageBox& messages, QDBusConnection bus,
                                                 Options options)
    : messages_(messages), bus_(std::move(bus)), options_(std::move(options)) {}

PortalKeystrokeInjector::~PortalKeystrokeInjector() {
    endSession();
}

bool PortalKeystrokeInjector::offered(QDBusConnection bus) {
    return PortalSession::offered(std::move(bus), std::chrono::seconds(10));
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

std::string PortalKeystrokeInjector::unavailableReason() {
    pumpEvents(); // news from the desktop since the last delivery
    if (session_ && session_->isOpen()) {
        return {};
    }
    // Stopped from the desktop meanwhile: asked again, as the first time.
    endSession();
    if (!offered(bus_)) {
        return kDesktopCannotType;
    }
    // The window that asks, before the explanation's box takes the focus.
    QWindow* owner = guiApplication() ? QGuiApplication::focusWindow() : nullptr;
    messages_.show(kExplanation, MessageIcon::Information, MessageButtons::Ok, std::string());

    PortalSession::Timeouts timeouts;
    timeouts.call = options_.call;
    timeouts.answer = options_.answer;
    timeouts.permission = options_.permission;
    session_ = std::make_unique<PortalSession>(bus_, timeouts);
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
    PortalKeyPlan plan =
        planPortalKeys(options_.keymap ? options_.keymap() : std::string(), script);
    Preparation prepared{{}, plan.untypable, plan.onLayout};
    wipeRecords(plan.keys);
    wipe(plan.untypable);
    return prepared;
}

std::vector<std::string> PortalKeystrokeInjector::beforeLaunch() {
    pumpEvents();
    focusedAtLaunch_ = ownWindowFocused();
    return {};
}

InjectionResult PortalKeystrokeInjector::typeInto(const LaunchResult& target,
                                                  const KeystrokeScript& script) {
    const auto failure = [](std::string error) { return InjectionResult{false, std::move(error)}; };
    PortalKeyPlan plan =
        planPortalKeys(options_.keymap ? options_.keymap() : std::string(), script);
    struct PlanWiper {
        PortalKeyPlan& plan;
        ~PlanWiper() {
            wipeRecords(plan.keys);
            wipe(plan.untypable);
        }
    } wiper{plan};
    if (!plan.untypable.empty()) {
        return failure(untypableMessage(plan.untypable));
    }
    if (!session_ || !session_->isOpen()) {
        return failure("L'accord du bureau pour taper au clavier a pris fin : rien n'a été tapé.");
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
        return failure("La fenêtre de " + program + " n'a pas pris le focus : rien n'a été tapé.");
    }
    // A moment for the window to settle, in case the focus only passed through it.
    waitFor([this] { return ownWindowFocused() || !session_->isOpen(); }, options_.settle);

    bool typedSome = false;
    std::string stopped;
    // Keys down now (a character's modifiers and key): released however typing ends.
    std::vector<PortalKey> held;
    for (const PortalKey& key : plan.keys) {
        // Between two characters only: a character is never cut in two.
        if (held.empty()) {
            pumpEvents();
            if (linux_desktop::stopRequested()) {
                stopped = "Tolvane doit se fermer";
            } else if (!session_->isOpen()) {
                stopped = "Le bureau a mis fin au partage du clavier";
            } else if (ownWindowFocused()) {
                stopped = "La fenêtre de Tolvane a repris le focus";
            }
            if (!stopped.empty()) {
                break;
            }
        }
        const bool taken = session_->send(key);
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
    if (!stopped.empty()) {
        return failure(stopped + (typedSome
                                      ? " : la frappe a été interrompue, vérifiez le texte reçu."
                                      : " : rien n'a été tapé."));
    }
    return {true, {}};
}

void PortalKeystrokeInjector::endSession() {
    QObject::disconnect(ownerGone_);
    owner_.clear();
    session_.reset();
}

} // namespace tolvane::platform::portal
