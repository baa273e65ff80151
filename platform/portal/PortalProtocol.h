#pragma once

#include "platform/Keystrokes.h"

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <string>
#include <vector>

// What the desktop portal's RemoteDesktop conversation means, apart from the bus itself: the
// keysyms sent for a delivery, the paths the portal answers on, and what its answers say.
namespace tolvane::platform::portal {

inline constexpr std::uint32_t kKeyboardDevice = 1; // the "types" and "devices" bit

// The keysym pressed for one character: Tab and line ends as their keys, printable characters
// through their Unicode keysym. 0 for the characters no key may type: control characters, which
// would press keys such as Backspace or Escape in the target, and code points that are not
// characters.
std::uint32_t keysymFor(char32_t c);

struct KeysymPlan {
    std::vector<std::uint32_t> keysyms; // one press and release each, in order
    std::u32string untypable;           // each character once; nothing is typed when not empty
};
KeysymPlan planKeysyms(const KeystrokeScript& script);

// The Request object the portal answers a call on: the caller's unique bus name without its
// ':' and with '_' for each '.', then the call's handle_token.
QString requestPath(const QString& uniqueName, const QString& token);
// The Session object the portal makes for a session_handle_token, named the same way.
QString sessionPath(const QString& uniqueName, const QString& token);

enum class Step { CreateSession, SelectDevices, Start };

struct Answer {
    bool granted = false;
    QString sessionHandle; // CreateSession only
    std::string error;     // French, when not granted
};

// The meaning of a Request's Response signal (code 0 granted, 1 cancelled by the user, other:
// ended otherwise) for the step that asked.
Answer readResponse(Step step, std::uint32_t code, const QVariantMap& results);

// When a step got no answer in time.
std::string noAnswerMessage(Step step);

} // namespace tolvane::platform::portal
