#include "platform/qt/WaylandDisplay.h"

#include <QGuiApplication>
#include <qpa/qplatformnativeinterface.h>

namespace tolvane::platform::qt {

wl_display* windowWaylandDisplay() {
    if (!qGuiApp || !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return nullptr;
    }
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"))
                  : nullptr;
}

} // namespace tolvane::platform::qt
