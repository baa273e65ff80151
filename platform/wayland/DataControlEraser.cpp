#include "platform/wayland/DataControlEraser.h"

#include "platform/Wipe.h"
#include "platform/wayland/WaylandConnection.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace tolvane::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

// How long the selection's owner has to hand its content over.
constexpr auto kReadTimeout = std::chrono::seconds(2);
// Blanks a clipboard manager may add around a copy it keeps.
constexpr std::size_t kBlanksKept = 16;
const char* const kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"};

struct Offer {
    zwlr_data_control_offer_v1* proxy = nullptr;
    std::vector<std::string> types;
};

struct Connection {
    WaylandConnection wayland;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_device_v1* device = nullptr;
    std::vector<std::unique_ptr<Offer>> offers;
    Offer* selection = nullptr;

    ~Connection() {
        for (auto& offer : offers) {
            zwlr_data_control_offer_v1_destroy(offer->proxy);
        }
        if (device) {
            zwlr_data_control_device_v1_destroy(device);
        }
        if (manager) {
            zwlr_data_control_manager_v1_destroy(manager);
        }
    }
};

void offerType(void* data, zwlr_data_control_offer_v1*, const char* type) {
    static_cast<Offer*>(data)->types.emplace_back(type);
}
constexpr zwlr_data_control_offer_v1_listener offerListener{offerType};

void dataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* proxy) {
    auto* c = static_cast<Connection*>(data);
    auto offer = std::make_unique<Offer>();
    offer->proxy = proxy;
    zwlr_data_control_offer_v1_add_listener(proxy, &offerListener, offer.get());
    c->offers.push_back(std::move(offer));
}
void selection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* proxy) {
    auto* c = static_cast<Connection*>(data);
    c->selection = nullptr;
    for (auto& offer : c->offers) {
        if (proxy && offer->proxy == proxy) {
            c->selection = offer.get();
        }
    }
}
void finished(void* data, zwlr_data_control_device_v1*) {
    auto* c = static_cast<Connection*>(data);
    c->selection = nullptr;
}
constexpr zwlr_data_control_device_v1_listener deviceListener{dataOffer, selection, finished};

enum class Content { Ours, Other, Unanswered };

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Whether what the owner writes on the pipe is the expected text, exactly or with blanks
// added or taken off at its ends; never reads more than a bounded length past it.
Content contentOf(int fd, const std::string& expected) {
    std::string received(expected.size() + kBlanksKept, '\0');
    std::size_t length = 0;
    const auto deadline = Clock::now() + kReadTimeout;
    bool ended = false;
    while (!ended && length < received.size() && Clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 1))) <= 0) {
            break;
        }
        const ssize_t n = read(fd, received.data() + length, received.size() - length);
        if (n > 0) {
            length += static_cast<std::size_t>(n);
        } else {
            ended = n == 0;
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                break;
            }
        }
    }
    Content content = Content::Other;
    if (!ended && length < received.size()) {
        content = Content::Unanswered;
    } else if (ended) {
        const std::string_view got(received.data(), length);
        const std::string_view core = trimmed(expected);
        if (got == expected || (!core.empty() && trimmed(got) == core)) {
            content = Content::Ours;
        }
    }
    wipe(received);
    return content;
}

} // namespace

ClipboardEraser::Result DataControlEraser::eraseIfHolds(const std::string& utf8) {
    Connection c;
    c.manager = static_cast<zwlr_data_control_manager_v1*>(
        c.wayland.bind(zwlr_data_control_manager_v1_interface, 1));
    wl_seat* seat = c.wayland.seat();
    if (!seat || !c.manager) {
        return Result::Unavailable;
    }
    c.device = zwlr_data_control_manager_v1_get_data_device(c.manager, seat);
    zwlr_data_control_device_v1_add_listener(c.device, &deviceListener, &c);
    // The device announces the current selection at once.
    c.wayland.roundtrip();
    if (!c.selection) {
        return Result::NotHeld;
    }
    const auto& types = c.selection->types;
    const char* const* type =
        std::find_if(std::begin(kTextTypes), std::end(kTextTypes), [&](auto t) {
            return std::find(types.begin(), types.end(), t) != types.end();
        });
    if (type == std::end(kTextTypes)) {
        return Result::NotHeld;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return Result::Unavailable;
    }
    zwlr_data_control_offer_v1_receive(c.selection->proxy, *type, pipeFds[1]);
    c.wayland.flush();
    close(pipeFds[1]);
    const Content content = contentOf(pipeFds[0], utf8);
    close(pipeFds[0]);
    if (content != Content::Ours) {
        return content == Content::Unanswered ? Result::Unanswered : Result::NotHeld;
    }
    zwlr_data_control_device_v1_set_selection(c.device, nullptr);
    return c.wayland.roundtrip() ? Result::Erased : Result::Unavailable;
}

} // namespace tolvane::platform::wayland
