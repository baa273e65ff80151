// Dead keys: the characters a dead key and the next key compose through the compose table.
#pragma once

#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <initializer_list>
#include <map>
#include <memory>

namespace tolvane::platform::xkb {

using ComposeStatePtr = std::unique_ptr<xkb_compose_state, decltype(&xkb_compose_state_unref)>;

// What a compose state gives for these keysyms fed in order: the character composed, 0 while
// composing or when the sequence composes nothing.
char32_t composed(xkb_compose_state* state, std::initializer_list<xkb_keysym_t> syms);

struct DeadKeySequence {
    KeyPress dead;
    KeyPress next;
};

// The characters two keys type through the compose table, a dead key first, each with its
// cheapest pair of keys.
std::map<char32_t, DeadKeySequence> deadKeySequences(const std::map<xkb_keysym_t, KeyPress>& bySym,
                                                     xkb_compose_table* compose);

} // namespace tolvane::platform::xkb
