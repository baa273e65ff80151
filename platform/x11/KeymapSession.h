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
    ~KeymapSession();
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

    // Levels each spare key can be lent on: 4 when the keyboard has a key type whose levels
    // are plain, Shift, AltGr and Shift+AltGr, else 2.
    std::size_t spareLevels(const xkb::ModifierKeys& modifiers) const;

    // Whether Xlib's own lookup, on the keyboard's description as the server holds it, reads
    // the key pressed with these modifiers as this keysym (what XLookupString gives, before any
    // character conversion).
    bool readsAs(std::uint32_t keycode, std::uint32_t mods, std::uint32_t keysym) const;

    // Lends the spare keys of a segment, giving back those of the last one in the same
    // change. The live map is read, changed and written back under one server grab, so a
    // layout set by another client is never overwritten with a stale copy: only the lent keys
    // change, the keys between them are written back as the server holds them.
    void bind(const std::vector<xkb::SpareBinding>& bindings, const xkb::ModifierKeys& modifiers);

    // Gives back every key lent, whole: symbols, type, actions, behaviour, explicit components
    // and modifier mappings as they were (a key lent carried nothing), under a server grab
    // as above. A key that no longer holds what was lent was rebound by someone else (a new
    // layout): it is theirs now and left alone.
    void unbind();

    // Whether the live keymap, in the live group, still types every key of the segment as it
    // was planned.
    bool stillTypes(const xkb::PlanSegment& segment, const xkb::ModifierKeys& modifiers);

    // Gives back the keys lent and the locks cleared.
    void restore();

private:
    std::vector<KeyCode> giveBack(XkbDescPtr live);
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
