#include "platform/portal/PortalDelivery.h"

#include <algorithm>

namespace tolvane::platform::portal {

namespace {

// Keys leave at a pace any client reads: a compositor drops a client whose queue fills up.
constexpr auto kKeyInterval = std::chrono::milliseconds(1);
// Before a dead key, where the target takes composed characters ahead of the keys before them.
constexpr auto kBeforeComposing = std::chrono::milliseconds(250);

} // namespace

// A character, dead key and all, is never cut in two.
typing::Halt PortalKeystrokeInjector::Delivery::send(std::size_t part) {
    if (typing::Halt halt = listening()) {
        return halt;
    }
    const std::size_t end = part + 1 < starts_.size() ? starts_[part + 1] : plan_.keys.size();
    for (std::size_t i = starts_[part]; i < end; ++i) {
        const PortalKey& key = plan_.keys[i];
        // A character composed right after another has none waiting before it.
        if (key.startsComposing && composedOvertakes_ && !afterComposed_) {
            std::this_thread::sleep_for(kBeforeComposing);
        }
        if (key.startsCharacter) {
            afterComposed_ = key.startsComposing;
        }
        const bool taken = session().send(key);
        ++sent_;
        // A release the desktop refused leaves the key down: it is released again at the end.
        if (key.down) {
            held_.push_back(key);
        } else if (taken) {
            std::erase_if(held_, [&](const PortalKey& k) {
                return k.keysym == key.keysym && k.value == key.value;
            });
        }
        typedSome = true; // perhaps pressed even when the portal answered otherwise
        if (!taken) {
            refused_ = true;
            return {typing::Halt::Other, "Le bureau n'a pas pris une touche"};
        }
        if (held_.empty()) {
            std::this_thread::sleep_for(kKeyInterval);
        }
    }
    return {};
}

// The keys still down are released, and the locks taken off given back, however typing ended;
// false when the locks could not all be given back (the desktop ended the session, or refused a
// key while they were being taken off).
bool PortalKeystrokeInjector::Delivery::restore() {
    bool given = true;
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
        PortalKey release = *it;
        release.down = false;
        given = session().send(release) && given;
    }
    wipeRecords(held_);
    if (sent_ == 0 || plan_.restore.empty()) {
        return true;
    }
    if (sent_ < plan_.lockEvents || (refused_ && sent_ == plan_.lockEvents)) {
        return false;
    }
    for (const PortalKey& key : plan_.restore) {
        given = session().send(key) && given;
    }
    return given;
}

} // namespace tolvane::platform::portal
