#pragma once

#include "platform/xkb/KeyPlanner.h"

#include <X11/XKBlib.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace tolvane::platform::x11 {

struct DescFree {
    void operator()(XkbDescPtr desc) const { XkbFreeKeyboard(desc, 0, True); }
};
using DescPtr = std::unique_ptr<XkbDescRec, DescFree>;

// The live keymap and lock state, and the spare keys lent for a delivery; everything is put
// back as it was when the session ends, however it ends.
class KeymapSession {
public:
    explicit KeymapSession(Display* d) : d_(d) {}
    ~KeymapSession() { restore(); }
    KeymapSession(const KeymapSession&) = delete;
    KeymapSession& operator=(const KeymapSession&) = delete;

    // Reads the live keymap, group and locks; false when any of them cannot be read.
    bool load();

    xkb_keymap* keymap() const { return keymap_.get(); }
    std::uint32_t group() const { return group_; }

    // The candidates that carry nothing on the server itself: no group, no action, no
    // behaviour, no explicit component, no real or virtual modifier mapping.
    std::vector<std::uint32_t> empty(const std::vector<std::uint32_t>& candidates) const;

    // Caps Lock and any latched or locked modifier would change what a key types.
    void clearLocks();

    // Lends the spare keys of a segment, in one map change. The change is made on a fresh
    // copy of the live map, so the keys between two spare keys are sent back as they are.
    void bind(const std::vector<xkb::SpareBinding>& bindings);

    // Gives back every key lent, whole: symbols, type, actions, behaviour, explicit components
    // and modifier mappings as they were (a key lent carried nothing), in one map change. A
    // key that no longer holds what was lent was rebound by someone else (a new layout): it
    // is theirs now and left alone.
    void unbind();

    // Whether the live keymap, in the live group, still types every key of the segment as it
    // was planned.
    bool stillTypes(const xkb::PlanSegment& segment, const xkb::ModifierKeys& modifiers);

    // Gives back the keys lent and the locks cleared.
    void restore();

private:
    void send(XkbDescPtr from, const std::vector<KeyCode>& keys, unsigned components);

    Display* d_;
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context_{nullptr,
                                                                        &xkb_context_unref};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap_{nullptr, &xkb_keymap_unref};
    DescPtr original_; // as found
    std::uint32_t group_ = 0;
    unsigned lockedMods_ = 0;
    unsigned latchedMods_ = 0;
    bool locksCleared_ = false;
    std::vector<xkb::SpareBinding> lent_;
};

} // namespace tolvane::platform::x11
