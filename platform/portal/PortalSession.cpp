#include "platform/portal/PortalSession.h"

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

namespace tolvane::platform::portal {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

const char* const kAsking =
    "Tolvane attend la réponse du bureau : acceptez ou refusez le partage du clavier dans la "
    "fenêtre qu'il affiche. « Annuler » renonce à la frappe.";
const char* const kGivenUp = "Vous avez renoncé à attendre l'accord du bureau : rien n'a été tapé.";

int milliseconds(std::chrono::milliseconds duration) {
    return static_cast<int>(duration.count());
}

// Tokens name the portal's Request and Session objects: never twice in the program's life.
QString newToken() {
    static unsigned last = 0;
    return QStringLiteral("tolvane%1").arg(++last);
}

} // namespace

PortalSession::PortalSession(QDBusConnection bus, Timeouts timeouts, WaitNotice* notice)
    : bus_(std::move(bus)), timeouts_(timeouts), notice_(notice) {
    auto* watcher =
        new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &PortalSession::onVanished);
}

PortalSession::~PortalSession() {
    close();
}

bool PortalSession::offered(QDBusConnection bus, std::chrono::milliseconds timeout) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({kRemoteDesktop, QStringLiteral("AvailableDeviceTypes")});
    PortalSession asking(std::move(bus), Timeouts{timeout, timeout, timeout});
    const QDBusMessage reply = asking.call(get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    const QVariant types = reply.arguments().front().value<QDBusVariant>().variant();
    return (types.toUInt() & kKeyboardDevice) != 0;
}

QDBusConnection PortalSession::throughRelay(const std::string& relay) {
    // An address's values keep [-0-9A-Za-z_/.\*] as they are and take every other byte
    // %-escaped.
    const QString path =
        QString::fromLatin1(QByteArray::fromStdString(relay).toPercentEncoding("/\\*", "~"));
    static unsigned count = 0;
    return QDBusConnection::connectToBus(QStringLiteral("unixexec:path=") + path,
                                         QStringLiteral("tolvane-portal-%1").arg(++count));
}

QDBusMessage PortalSession::call(const QDBusMessage& message) {
    QDBusPendingCall pending = bus_.asyncCall(message, milliseconds(timeouts_.call));
    if (!pending.isFinished()) {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return pending.reply();
}

std::optional<Answer> PortalSession::request(Step step, const QString& method,
                                             QVariantList arguments, QVariantMap options) {
    const QString token = newToken();
    QString path = requestPath(bus_.baseService(), token);
    options.insert(QStringLiteral("handle_token"), token);
    answered_ = false;
    code_ = 0;
    results_.clear();
    // The portal may answer before the call itself returns: listen first.
    const auto listen = [&](const QString& on) {
        return bus_.connect(kService, on, kRequest, QStringLiteral("Response"), this,
                            SLOT(onResponse(uint, QVariantMap)));
    };
    const auto stopListening = [&](const QString& on) {
        bus_.disconnect(kService, on, kRequest, QStringLiteral("Response"), this,
                        SLOT(onResponse(uint, QVariantMap)));
    };
    if (!listen(path)) {
        return std::nullopt;
    }
    arguments << options;
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
    message.setArguments(arguments);
    const QDBusMessage reply = call(message);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        stopListening(path);
        return std::nullopt;
    }
    // Portals older than handle_token answer on a path of their own choosing.
    const QString given = reply.arguments().front().value<QDBusObjectPath>().path();
    if (!given.isEmpty() && given != path && !answered_) {
        stopListening(path);
        path = given;
        if (!listen(path)) {
            return std::nullopt;
        }
    }
    const auto over = [this] { return answered_ || closedByDesktop_; };
    if (!over() && step == Step::Start && notice_) {
        // The user is asked: the window stays alive and says so, and the user may give up.
        givenUp_ =
            notice_->waitUntil(kAsking, over, timeouts_.permission) == WaitNotice::Outcome::GivenUp;
    } else if (!over()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(step == Step::Start ? timeouts_.permission : timeouts_.answer);
        waiting_ = &loop;
        // Only the bus and the window's painting go on meanwhile: no click reaches the window.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        waiting_ = nullptr;
    }
    stopListening(path);
    if (!answered_) {
        if (!closedByDesktop_) {
            // The dialog, if any, goes away with the request.
            call(QDBusMessage::createMethodCall(kService, path, kRequest, QStringLiteral("Close")));
        }
        Answer none;
        none.error = givenUp_ ? kGivenUp : noAnswerMessage(step);
        return none;
    }
    return readResponse(step, code_, results_);
}

std::string PortalSession::open() {
    if (isOpen()) {
        return {};
    }
    close();
    closedByDesktop_ = false;
    givenUp_ = false;
    const std::string unreachable =
        "Le bureau n'a pas pris la demande de frappe au clavier : rien n'a été tapé.";

    const QString sessionToken = newToken();
    std::optional<Answer> created =
        request(Step::CreateSession, QStringLiteral("CreateSession"), {},
                {{QStringLiteral("session_handle_token"), sessionToken}});
    if (!created || !created->granted) {
        return created ? created->error : unreachable;
    }
    // The session is the one named after our token, of our own connection: another object
    // would be someone else's.
    if (created->sessionHandle != sessionPath(bus_.baseService(), sessionToken)) {
        return "Le bureau a répondu par une session qui n'est pas celle demandée : rien n'a été "
               "tapé.";
    }
    handle_ = created->sessionHandle;
    bus_.connect(kService, handle_, kSession, QStringLiteral("Closed"), this,
                 SLOT(onClosed(QVariantMap)));

    // Only the keyboard, and no permission kept beyond this session: no restore token exists.
    const QVariant session = QVariant::fromValue(QDBusObjectPath(handle_));
    std::optional<Answer> selected =
        request(Step::SelectDevices, QStringLiteral("SelectDevices"), {session},
                {{QStringLiteral("types"), QVariant::fromValue(kKeyboardDevice)}});
    std::optional<Answer> started;
    if (selected && selected->granted) {
        started = request(Step::Start, QStringLiteral("Start"), {session, QString()}, {});
    }
    const std::optional<Answer>& last = started ? started : selected;
    if (!last || !last->granted || closedByDesktop_) {
        close();
        return last && !last->granted ? last->error : unreachable;
    }
    return {};
}

bool PortalSession::notify(const QString& method, std::uint32_t value, std::uint32_t state) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
    message.setArguments({QVariant::fromValue(QDBusObjectPath(handle_)), QVariantMap(),
                          static_cast<int>(value), static_cast<uint>(state)});
    return call(message).type() == QDBusMessage::ReplyMessage;
}

bool PortalSession::send(const PortalKey& key) {
    if (!isOpen()) {
        return false;
    }
    return notify(key.keysym ? QStringLiteral("NotifyKeyboardKeysym")
                             : QStringLiteral("NotifyKeyboardKeycode"),
                  key.value, key.down ? 1 : 0);
}

void PortalSession::close() {
    if (handle_.isEmpty()) {
        return;
    }
    bus_.disconnect(kService, handle_, kSession, QStringLiteral("Closed"), this,
                    SLOT(onClosed(QVariantMap)));
    if (!closedByDesktop_) {
        call(QDBusMessage::createMethodCall(kService, handle_, kSession, QStringLiteral("Close")));
    }
    handle_.clear();
}

void PortalSession::onResponse(uint code, const QVariantMap& results) {
    answered_ = true;
    code_ = code;
    results_ = results;
    if (waiting_) {
        waiting_->quit();
    }
}

void PortalSession::onClosed(const QVariantMap&) {
    closedByDesktop_ = true;
    if (waiting_) {
        waiting_->quit();
    }
}

void PortalSession::onVanished(const QString&) {
    closedByDesktop_ = true;
    if (waiting_) {
        waiting_->quit();
    }
}

} // namespace tolvane::platform::portal
