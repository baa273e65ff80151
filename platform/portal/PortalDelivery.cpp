#include "platform/portal/PortalDelivery.h"

#include <algorithm>
#include <span>

namespace tolvane::platform::portal {

namespace {

// Keys leave at a pace any client reads: a compositor drops a client whose queue fills up.
constexpr auto kKeyInterval = std::chrono::milliseconds(1);
// Before a dead key, where the target takes composed characters ahead of the keys before them.
constexpr auto kBeforeComposing = std::chrono::milliseconds(250);

} // namespace

// A character, dead key and all, is never cut in two. Its keys go at once, each without waiting
// for the portal's answer to the one before: a key's release follows its press at once (a client
// repeats a key whose release comes late: a mutter run once had Chromium type « rr »).
typing::Halt PortalKeystrokeInjector::Delivery::send(std::size_t part) {
    if (typing::Halt halt = listening()) {
        return halt;
    }
    const std::size_t begin = starts_[part];
    const std::size_t end = part + 1 < starts_.size() ? starts_[part + 1] : plan_.keys.size();
    const std::span<const PortalKey> keys(plan_.keys.data() + begin, end - begin);
    // A character composed right after another has none waiting before it.
    if (keys.front().startsComposing && composedOvertakes_ && !afterComposed_) {
        std::this_thread::sleep_for(kBeforeComposing);
    }
    if (keys.front().startsCharacter) {
        afterComposed_ = keys.front().startsComposing;
    }
    const std::vector<bool> taken = session().send(keys);
    sent_ += keys.size();
    typedSome = true; // perhaps pressed even when the portal answered otherwise
    bool refused = false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const PortalKey& key = keys[i];
        // A release the desktop refused leaves the key down: it is released again at the end.
        if (key.down) {
            held_.push_back(key);
        } else if (taken[i]) {
            std::erase_if(held_, [&](const PortalKey& k) {
                return k.keysym == key.keysym && k.value == key.value;
            });
        }
        refused = refused || !taken[i];
    }
    if (refused) {
        refused_ = true;
        return {typing::Halt::Other, "Le bureau n'a pas pris une touche"};
    }
    if (held_.empty()) {
        std::this_thread::sleep_for(kKeyInterval);
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
