#include "platform/portal/PortalProtocol.h"

#include "platform/Wipe.h"

#include <QDBusObjectPath>

#include <xkbcommon/xkbcommon.h>

namespace tolvane::platform::portal {

namespace {

const char* const kNothingTyped = " : rien n'a été tapé.";

} // namespace

std::uint32_t keysymFor(char32_t c) {
    switch (c) {
    case U'\t':
        return XKB_KEY_Tab;
    case U'\n':
    case U'\r':
        return XKB_KEY_Return;
    default:
        break;
    }
    if (!mayBeTyped(c)) {
        return 0;
    }
    const xkb_keysym_t keysym = xkb_utf32_to_keysym(static_cast<std::uint32_t>(c));
    return keysym == XKB_KEY_NoSymbol ? 0 : keysym;
}

KeysymPlan planKeysyms(const KeystrokeScript& script) {
    KeysymPlan plan;
    std::u32string text = typedText(script);
    plan.keysyms.reserve(text.size());
    for (char32_t c : text) {
        const std::uint32_t keysym = keysymFor(c);
        if (keysym == 0) {
            if (plan.untypable.find(c) == std::u32string::npos) {
                plan.untypable += c;
            }
        } else {
            plan.keysyms.push_back(keysym);
        }
    }
    if (!plan.untypable.empty()) {
        wipeRecords(plan.keysyms);
    }
    wipe(text);
    return plan;
}

namespace {

QString objectPath(const char* kind, const QString& uniqueName, const QString& token) {
    QString sender = uniqueName.startsWith(u':') ? uniqueName.mid(1) : uniqueName;
    sender.replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/") + QLatin1String(kind) + u'/' +
           sender + u'/' + token;
}

} // namespace

QString requestPath(const QString& uniqueName, const QString& token) {
    return objectPath("request", uniqueName, token);
}

QString sessionPath(const QString& uniqueName, const QString& token) {
    return objectPath("session", uniqueName, token);
}

Answer readResponse(Step step, std::uint32_t code, const QVariantMap& results) {
    Answer answer;
    if (code == 1) {
        answer.error = step == Step::Start
                           ? "Vous n'avez pas autorisé Tolvane à taper au clavier : rien n'a été "
                             "tapé. Choisissez « Vers le presse-papier » pour copier les mots de "
                             "passe sans les taper."
                           : std::string("La demande au bureau a été annulée") + kNothingTyped;
        return answer;
    }
    if (code != 0) {
        answer.error = std::string("Le bureau a refusé ou interrompu la demande de frappe au "
                                   "clavier") +
                       kNothingTyped;
        return answer;
    }
    switch (step) {
    case Step::CreateSession: {
        // A string by the interface's description; some portals have sent an object path.
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        answer.sessionHandle = handle.canConvert<QDBusObjectPath>() &&
                                       handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                                   ? handle.value<QDBusObjectPath>().path()
                                   : handle.toString();
        if (answer.sessionHandle.isEmpty() || !answer.sessionHandle.startsWith(u'/')) {
            answer.sessionHandle.clear();
            answer.error =
                std::string("Le bureau n'a pas ouvert de session de frappe") + kNothingTyped;
            return answer;
        }
        break;
    }
    case Step::SelectDevices:
        break;
    case Step::Start: {
        const QVariant devices = results.value(QStringLiteral("devices"));
        if (!devices.isValid() || (devices.toUInt() & kKeyboardDevice) == 0) {
            answer.error =
                std::string("Le bureau n'a pas accordé l'usage du clavier") + kNothingTyped;
            return answer;
        }
        break;
    }
    }
    answer.granted = true;
    return answer;
}

std::string noAnswerMessage(Step step) {
    return step == Step::Start
               ? std::string("L'autorisation de taper au clavier n'a pas été donnée à temps") +
                     kNothingTyped
               : std::string("Le bureau n'a pas répondu à la demande de frappe au clavier") +
                     kNothingTyped;
}

} // namespace tolvane::platform::portal
