#include "platform/x11/KeymapSession.h"

#include "platform/Wipe.h"
#include "platform/x11/X11Display.h"
#include "platform/xkb/Keysyms.h"

#include <X11/Xlib-xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace tolvane::platform::x11 {

namespace {

// Every per-key component of a keymap: what lending a key may change, and what is given back.
constexpr unsigned kKeyComponents = XkbKeySymsMask | XkbKeyActionsMask | XkbKeyBehaviorsMask |
                                    XkbExplicitComponentsMask | XkbModifierMapMask |
                                    XkbVirtualModMapMask;

// The levels a binding uses: one, two (Shift) or four (AltGr).
int widthOf(const xkb::SpareBinding& b) {
    return b.keysyms[2] || b.keysyms[3] ? 4 : b.keysyms[1] ? 2 : 1;
}

// Whether the live map still gives the key exactly what was lent to it.
bool holds(XkbDescPtr live, const xkb::SpareBinding& b) {
    const auto kc = static_cast<KeyCode>(b.keycode);
    if (kc < live->min_key_code || kc > live->max_key_code || XkbKeyNumGroups(live, kc) != 1) {
        return false;
    }
    const int width = widthOf(b);
    if (XkbKeyGroupsWidth(live, kc) != width) {
        return false;
    }
    const KeySym* syms = XkbKeySymsPtr(live, kc);
    return std::equal(syms, syms + width, b.keysyms);
}

// The key type whose four levels are plain, Shift, AltGr and Shift+AltGr (FOUR_LEVEL, as the
// keyboard names it); -1 when the keyboard has none.
int fourLevelType(XkbDescPtr desc, const xkb::ModifierKeys& m) {
    const unsigned shift = m.shiftMask;
    const unsigned level3 = m.level3Mask;
    if (!desc || !desc->map || !desc->map->types || !shift || !level3 || (shift & level3)) {
        return -1;
    }
    for (int i = 0; i < desc->map->num_types; ++i) {
        const XkbKeyTypeRec& type = desc->map->types[i];
        if (type.num_levels != 4 || type.mods.mask != (shift | level3) || type.map_count != 3) {
            continue;
        }
        const unsigned want[3] = {shift, level3, shift | level3};
        bool fits = true;
        for (int e = 0; e < 3; ++e) {
            const XkbKTMapEntryRec& entry = type.map[e];
            const auto level = std::find(std::begin(want), std::end(want), entry.mods.mask);
            fits = fits && entry.active && level != std::end(want) &&
                   entry.level == level - std::begin(want) + 1 &&
                   (!type.preserve || type.preserve[e].mask == 0);
        }
        if (fits) {
            return i;
        }
    }
    return -1;
}

// Whether a key (a modifier key the plan presses) is in the live map as it was found: its
// symbols, types, actions and modifiers, and what the virtual modifiers stand for. None (0): it
// has nothing to keep.
bool asFound(XkbDescPtr live, XkbDescPtr found, unsigned kc) {
    if (kc == 0) {
        return true;
    }
    if (kc < live->min_key_code || kc > live->max_key_code || kc < found->min_key_code ||
        kc > found->max_key_code) {
        return false;
    }
    const XkbSymMapRec& now = live->map->key_sym_map[kc];
    const XkbSymMapRec& was = found->map->key_sym_map[kc];
    const int syms = XkbKeyNumSyms(live, kc);
    const int actions = XkbKeyNumActions(live, kc);
    return std::equal(std::begin(now.kt_index), std::end(now.kt_index), was.kt_index) &&
           now.group_info == was.group_info && now.width == was.width &&
           syms == XkbKeyNumSyms(found, kc) &&
           std::equal(XkbKeySymsPtr(live, kc), XkbKeySymsPtr(live, kc) + syms,
                      XkbKeySymsPtr(found, kc)) &&
           XkbKeyHasActions(live, kc) == XkbKeyHasActions(found, kc) &&
           (!XkbKeyHasActions(live, kc) ||
            (actions == XkbKeyNumActions(found, kc) &&
             std::memcmp(XkbKeyActionsPtr(live, kc), XkbKeyActionsPtr(found, kc),
                         static_cast<std::size_t>(actions) * sizeof(XkbAction)) == 0)) &&
           live->map->modmap[kc] == found->map->modmap[kc] &&
           live->server->vmodmap[kc] == found->server->vmodmap[kc] &&
           std::equal(std::begin(live->server->vmods), std::end(live->server->vmods),
                      found->server->vmods);
}

// Whether a planned key, pressed with its modifiers in the group, types its character on this
// map (as Xlib reads it).
bool types(XkbDescPtr desc, unsigned group, const xkb::PlannedKey& key) {
    unsigned consumed = 0;
    KeySym sym = NoSymbol;
    return XkbTranslateKeyCode(desc, static_cast<KeyCode>(key.press.keycode),
                               XkbBuildCoreState(key.press.mods, group), &consumed, &sym) &&
           xkb::characterOf(static_cast<xkb_keysym_t>(sym)) == key.character;
}

// A copy of the map held characters lent: overwritten before it is freed.
void wipeSyms(XkbDescPtr desc) {
    if (desc && desc->map && desc->map->syms) {
        wipeBytes(desc->map->syms, desc->map->size_syms * sizeof(KeySym));
    }
}

} // namespace

bool KeymapSession::load() {
    xcb_connection_t* conn = XGetXCBConnection(d_);
    if (!conn || !xkb_x11_setup_xkb_extension(
                     conn, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        return false;
    }
    context_.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    const int32_t device = xkb_x11_get_core_keyboard_device_id(conn);
    if (!context_ || device < 0) {
        return false;
    }
    keymap_.reset(
        xkb_x11_keymap_new_from_device(context_.get(), conn, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    XkbStateRec state{};
    if (!keymap_ || XkbGetState(d_, XkbUseCoreKbd, &state) != Success) {
        return false;
    }
    group_ = state.group;
    lockedMods_ = state.locked_mods;
    latchedMods_ = state.latched_mods;
    original_.reset(XkbGetMap(d_, XkbAllMapComponentsMask, XkbUseCoreKbd));
    return original_ && original_->map && original_->server && original_->map->modmap;
}

std::vector<std::uint32_t>
KeymapSession::empty(const std::vector<std::uint32_t>& candidates) const {
    std::vector<std::uint32_t> keys;
    const XkbDescPtr x = original_.get();
    for (std::uint32_t kc : candidates) {
        if (kc < x->min_key_code || kc > x->max_key_code) {
            continue;
        }
        if (XkbKeyNumGroups(x, kc) == 0 && XkbKeyNumSyms(x, kc) == 0 && !XkbKeyHasActions(x, kc) &&
            x->server->behaviors[kc].type == 0 && x->server->c_explicit[kc] == 0 &&
            x->map->modmap[kc] == 0 && x->server->vmodmap[kc] == 0) {
            keys.push_back(kc);
        }
    }
    return keys;
}

void KeymapSession::clearLocks() {
    if (lockedMods_ || latchedMods_) {
        XkbLockModifiers(d_, XkbUseCoreKbd, lockedMods_, 0);
        XkbLatchModifiers(d_, XkbUseCoreKbd, latchedMods_, 0);
        locksCleared_ = true;
    }
}

std::size_t KeymapSession::spareLevels(const xkb::ModifierKeys& modifiers) const {
    return fourLevelType(original_.get(), modifiers) >= 0 ? 4 : 2;
}

bool KeymapSession::readsAs(std::uint32_t keycode, std::uint32_t mods, std::uint32_t keysym) const {
    unsigned int consumed = 0;
    KeySym sym = NoSymbol;
    return XkbTranslateKeyCode(original_.get(), static_cast<KeyCode>(keycode),
                               XkbBuildCoreState(mods, group_), &consumed, &sym) &&
           sym == keysym;
}

void KeymapSession::bind(const std::vector<xkb::SpareBinding>& bindings,
                         const xkb::ModifierKeys& modifiers) {
    if (bindings.empty()) {
        unbind();
        return;
    }
    // Read, changed and written back with no other client served in between: a layout set
    // meanwhile is either read here or comes after. The keys of the last segment are given
    // back and those of this one lent in one change.
    const ServerGrab grab(d_);
    DescPtr live(XkbGetMap(d_, XkbAllMapComponentsMask, XkbUseCoreKbd));
    if (!live || !live->server || !live->map->modmap) {
        return; // the keys lent stay known, to be given back at the end
    }
    const std::vector<KeyCode> givenBack = giveBack(live.get());
    std::vector<KeyCode> keys = givenBack;
    const int fourLevels = fourLevelType(live.get(), modifiers);
    const XkbDescPtr x = live.get();
    // Room for every symbol lent at once: Xlib would otherwise move the symbols to a larger
    // array and free the old one, characters lent included, unwiped.
    if (const std::size_t needed = x->map->num_syms + 4 * bindings.size();
        x->map->size_syms < needed) {
        auto* grown = static_cast<KeySym*>(calloc(needed, sizeof(KeySym)));
        if (!grown) {
            return;
        }
        std::copy(x->map->syms, x->map->syms + x->map->num_syms, grown);
        wipeBytes(x->map->syms, x->map->size_syms * sizeof(KeySym));
        free(x->map->syms);
        x->map->syms = grown;
        x->map->size_syms = static_cast<unsigned short>(needed);
    }
    for (const auto& b : bindings) {
        const auto kc = static_cast<KeyCode>(b.keycode);
        const int width = widthOf(b);
        // A key another client has given something since it was found spare is not lent.
        if ((width == 4 && fourLevels < 0) || kc < x->min_key_code || kc > x->max_key_code ||
            XkbKeyNumGroups(x, kc) != 0 || XkbKeyHasActions(x, kc) ||
            x->server->behaviors[kc].type != 0 || x->server->c_explicit[kc] != 0 ||
            x->map->modmap[kc] != 0 || x->server->vmodmap[kc] != 0) {
            continue;
        }
        KeySym* syms = XkbResizeKeySyms(x, kc, width);
        if (!syms) {
            continue;
        }
        std::copy(b.keysyms, b.keysyms + width, syms);
        XkbSymMapPtr map = &x->map->key_sym_map[kc];
        map->kt_index[0] = static_cast<unsigned char>(width == 4   ? fourLevels
                                                      : width == 2 ? XkbTwoLevelIndex
                                                                   : XkbOneLevelIndex);
        map->group_info = XkbSetGroupInfo(1, XkbWrapIntoRange, 0);
        map->width = static_cast<unsigned char>(width);
        lent_.push_back(b);
        keys.push_back(kc);
    }
    // A key lent carries nothing but its symbols: when every key given back is lent again, the
    // symbols are all that changes.
    const bool allLentAgain = std::all_of(givenBack.begin(), givenBack.end(), [&](KeyCode kc) {
        return std::any_of(lent_.begin(), lent_.end(),
                           [&](const auto& b) { return b.keycode == kc; });
    });
    send(x, keys, allLentAgain ? XkbKeySymsMask : kKeyComponents);
    wipeSyms(x);
}

void KeymapSession::unbind() {
    if (lent_.empty()) {
        return;
    }
    const ServerGrab grab(d_);
    DescPtr live(XkbGetMap(d_, XkbAllMapComponentsMask, XkbUseCoreKbd));
    if (!live || !live->server || !live->map->modmap) {
        return; // the keys lent stay known: asked again when the session ends
    }
    send(live.get(), giveBack(live.get()), kKeyComponents);
    wipeSyms(live.get());
}

// Puts every key lent back as it was found, in a copy of the live map; the keys changed.
std::vector<KeyCode> KeymapSession::giveBack(XkbDescPtr live) {
    std::vector<KeyCode> keys;
    const XkbDescPtr before = original_.get();
    for (const auto& b : lent_) {
        const auto kc = static_cast<KeyCode>(b.keycode);
        if (!holds(live, b)) {
            continue;
        }
        XkbSymMapRec& now = live->map->key_sym_map[kc];
        const XkbSymMapRec& was = before->map->key_sym_map[kc];
        std::copy(std::begin(was.kt_index), std::end(was.kt_index), now.kt_index);
        now.group_info = was.group_info;
        now.width = was.width;
        live->server->key_acts[kc] = before->server->key_acts[kc];
        live->server->behaviors[kc] = before->server->behaviors[kc];
        live->server->c_explicit[kc] = before->server->c_explicit[kc];
        live->server->vmodmap[kc] = before->server->vmodmap[kc];
        live->map->modmap[kc] = before->map->modmap[kc];
        keys.push_back(kc);
    }
    wipeRecords(lent_);
    return keys;
}

bool KeymapSession::stillTypes(const xkb::PlanSegment& segment,
                               const xkb::ModifierKeys& modifiers) {
    // Read as Xlib holds it, not compiled anew: the copy holds the characters lent, and is
    // wiped before it is freed.
    XkbStateRec state{};
    if (XkbGetState(d_, XkbUseCoreKbd, &state) != Success || state.group != group_) {
        return false;
    }
    DescPtr live(XkbGetMap(d_, XkbAllMapComponentsMask, XkbUseCoreKbd));
    if (!live || !live->map || !live->server || !live->map->modmap) {
        return false;
    }
    const XkbDescPtr x = live.get();
    const bool modifiersAsFound = asFound(x, original_.get(), modifiers.shiftKeycode) &&
                                  asFound(x, original_.get(), modifiers.level3Keycode);
    const bool typed =
        modifiersAsFound && std::all_of(segment.keys.begin(), segment.keys.end(),
                                        [&](const auto& key) { return types(x, group_, key); });
    wipeSyms(x);
    return typed;
}

KeymapSession::~KeymapSession() {
    restore();
    wipeRecords(lent_); // what could not be given back
}

void KeymapSession::restore() {
    unbind();
    if (locksCleared_) {
        XkbLatchModifiers(d_, XkbUseCoreKbd, latchedMods_, latchedMods_);
        XkbLockModifiers(d_, XkbUseCoreKbd, lockedMods_, lockedMods_);
        locksCleared_ = false;
    }
    XSync(d_, False);
}

// Sends the given components of the keys from the first to the last of these, from a copy of
// the live map read under the same server grab, in one request: the keys between two lent keys
// are written back exactly as the server holds them, and every client is told of one change
// (a request for each run of lent keys would make every client on the display reload its
// keymap as many times, and the typing wait for them).
void KeymapSession::send(XkbDescPtr from, const std::vector<KeyCode>& keys, unsigned components) {
    if (!keys.empty()) {
        const auto [low, high] = std::minmax_element(keys.begin(), keys.end());
        const KeyCode first = *low;
        const auto count = static_cast<unsigned char>(*high - *low + 1);
        XkbMapChangesRec changes{};
        changes.changed = static_cast<unsigned short>(components);
        changes.first_key_sym = first;
        changes.num_key_syms = count;
        changes.first_key_act = first;
        changes.num_key_acts = count;
        changes.first_key_behavior = first;
        changes.num_key_behaviors = count;
        changes.first_key_explicit = first;
        changes.num_key_explicit = count;
        changes.first_modmap_key = first;
        changes.num_modmap_keys = count;
        changes.first_vmodmap_key = first;
        changes.num_vmodmap_keys = count;
        XkbChangeMap(d_, from, &changes);
    }
    XSync(d_, False);
}

} // namespace tolvane::platform::x11
