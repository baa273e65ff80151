#include "platform/wayland/Activation.h"

#include "platform/wayland/WaylandConnection.h"

#include "xdg-activation-v1-client-protocol.h"

#include <wayland-client.h>

namespace tolvane::platform::wayland {

namespace {

void done(void* data, xdg_activation_token_v1*, const char* token) {
    *static_cast<std::string*>(data) = token;
}
constexpr xdg_activation_token_v1_listener tokenListener{done};

} // namespace

std::string activationToken(wl_display* shared, wl_surface* focused, std::uint32_t serial,
                            const std::string& appId) {
    if (!shared) {
        return {};
    }
    WaylandConnection connection(shared);
    auto* activation =
        static_cast<xdg_activation_v1*>(connection.bind(xdg_activation_v1_interface, 1));
    if (!activation) {
        return {};
    }
    std::string token;
    xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(activation);
    xdg_activation_token_v1_add_listener(request, &tokenListener, &token);
    if (wl_seat* seat = connection.seat(); seat && serial) {
        xdg_activation_token_v1_set_serial(request, serial, seat);
    }
    if (focused) {
        xdg_activation_token_v1_set_surface(request, focused);
    }
    if (!appId.empty()) {
        xdg_activation_token_v1_set_app_id(request, appId.c_str());
    }
    xdg_activation_token_v1_commit(request);
    // The token comes at once; a compositor may also answer later.
    for (int i = 0; i < 10 && token.empty() && connection.alive(); ++i) {
        connection.roundtrip();
    }
    xdg_activation_token_v1_destroy(request);
    xdg_activation_v1_destroy(activation);
    return token;
}

} // namespace tolvane::platform::wayland
