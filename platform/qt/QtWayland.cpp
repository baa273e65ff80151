#include "platform/qt/QtWayland.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

namespace tolvane::platform::qt {

namespace {

QPlatformNativeInterface* nativeInterface() {
    if (!qGuiApp || !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return nullptr;
    }
    return QGuiApplication::platformNativeInterface();
}

} // namespace

wl_display* waylandDisplay() {
    QPlatformNativeInterface* native = nativeInterface();
    return native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"))
                  : nullptr;
}

wl_surface* focusedWaylandSurface() {
    QPlatformNativeInterface* native = nativeInterface();
    QWindow* window = QGuiApplication::focusWindow();
    return native && window
               ? static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window))
               : nullptr;
}

std::uint32_t lastInputSerial() {
    QPlatformNativeInterface* native = nativeInterface();
    return native ? static_cast<std::uint32_t>(
                        reinterpret_cast<quintptr>(native->nativeResourceForIntegration("serial")))
                  : 0;
}

} // namespace tolvane::platform::qt
