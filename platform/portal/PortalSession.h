#pragma once

#include "platform/WaitNotice.h"
#include "platform/portal/PortalKeys.h"
#include "platform/portal/PortalProtocol.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QObject>

#include <chrono>
#include <optional>
#include <string>

namespace tolvane::platform::portal {

// One RemoteDesktop session of the desktop portal, with the keyboard only. No call blocks the
// window's thread: each is awaited with a time limit, the window's events going on meanwhile
// (its input held back, or, while the user is asked, given to the notice that lets them give
// up). The session lives in memory only and is closed with this object.
class PortalSession final : public QObject {
    Q_OBJECT

public:
    struct Timeouts {
        std::chrono::milliseconds call{10000};        // a method's own reply
        std::chrono::milliseconds answer{25000};      // a Request answered without the user
        std::chrono::milliseconds permission{120000}; // the user's answer to the permission
    };

    // notice: shown while the user is asked; null to wait without one.
    PortalSession(QDBusConnection bus, Timeouts timeouts, WaitNotice* notice = nullptr);
    ~PortalSession() override;
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    // Whether the desktop offers the RemoteDesktop portal with a keyboard (a question the portal
    // answers without looking at the caller).
    static bool offered(QDBusConnection bus, std::chrono::milliseconds timeout);

    // A connection to the session bus through the relay program given (tolvane-bus-relay),
    // which it starts: the portal learns who calls it by reading /proc/<pid>/root of the process
    // connected to the bus, which this program keeps closed to every other process; the relay
    // holds no password and the portal reads it instead. Not connected when it could not start.
    static QDBusConnection throughRelay(const std::string& relay);

    // Creates the session, selects the keyboard and starts it, which asks the user. Empty when
    // the keyboard was granted; otherwise why not, in French.
    std::string open();
    bool isOpen() const { return !handle_.isEmpty() && !closedByDesktop_; }
    // The desktop ended the session (the user stopped it, or the portal went away).
    bool closedByDesktop() const { return closedByDesktop_; }

    // Presses or releases a key of the user's layout (evdev code) or a keysym. False when the
    // portal did not take it.
    bool send(const PortalKey& key);
    void close();

private slots:
    void onResponse(uint code, const QVariantMap& results);
    void onClosed(const QVariantMap& details);
    void onVanished(const QString& name);

private:
    std::optional<Answer> request(Step step, const QString& method, QVariantList arguments,
                                  QVariantMap options);
    // Sends a call and waits for its reply, the window's events going on without its input.
    QDBusMessage call(const QDBusMessage& message);
    bool notify(const QString& method, std::uint32_t value, std::uint32_t state);

    QDBusConnection bus_;
    Timeouts timeouts_;
    WaitNotice* notice_;
    QString handle_;
    bool closedByDesktop_ = false;
    bool givenUp_ = false; // the user gave up waiting for the desktop's answer
    // The answer awaited, while a request runs.
    bool answered_ = false;
    uint code_ = 0;
    QVariantMap results_;
    QEventLoop* waiting_ = nullptr;
};

} // namespace tolvane::platform::portal
