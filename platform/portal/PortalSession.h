#pragma once

#include "platform/portal/PortalKeys.h"
#include "platform/portal/PortalProtocol.h"

#include <QDBusConnection>
#include <QEventLoop>
#include <QObject>

#include <chrono>
#include <optional>
#include <string>

namespace tolvane::platform::portal {

// One RemoteDesktop session of the desktop portal, with the keyboard only. Every answer the
// portal gives through a Request object is awaited with a time limit, the window's input held
// back meanwhile; the session lives in memory only and is closed with this object.
class PortalSession final : public QObject {
    Q_OBJECT

public:
    struct Timeouts {
        std::chrono::milliseconds call{10000};        // a method's own reply
        std::chrono::milliseconds answer{25000};      // a Request answered without the user
        std::chrono::milliseconds permission{120000}; // the user's answer to the permission
    };

    PortalSession(QDBusConnection bus, Timeouts timeouts);
    ~PortalSession() override;
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    // Whether the desktop offers the RemoteDesktop portal with a keyboard.
    static bool offered(QDBusConnection bus, std::chrono::milliseconds timeout);

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
    bool notify(const QString& method, std::uint32_t value, std::uint32_t state);

    QDBusConnection bus_;
    Timeouts timeouts_;
    QString handle_;
    bool closedByDesktop_ = false;
    // The answer awaited, while a request runs.
    bool answered_ = false;
    uint code_ = 0;
    QVariantMap results_;
    QEventLoop* waiting_ = nullptr;
};

} // namespace tolvane::platform::portal
