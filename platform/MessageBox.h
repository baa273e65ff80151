#pragma once

#include <string>

namespace tolvane::platform {

enum class MessageIcon { None, Exclamation, Information, Question };
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

// The application title, shown by a message box given no title.
inline constexpr const char* kApplicationTitle = "Kestrio";

// A modal message box. Texts are UTF-8.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons buttons,
                               const std::string& title) = 0;
};

} // namespace tolvane::platform
