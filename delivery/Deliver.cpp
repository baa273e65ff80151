#include "delivery/Deliver.h"

#include "delivery/Scripts.h"
#include "platform/Wipe.h"

namespace tolvane::delivery {

std::string toUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::optional<std::string> Deliver(const DeliveryRequest& request, DeliveryServices services) {
    if (request.destination == engine::Destination::Clipboard) {
        std::u32string text = clipboardText(request.lines);
        std::string utf8 = toUtf8(text);
        services.clipboard.setSecretText(utf8);
        platform::wipe(text);
        platform::wipe(utf8);
        return std::nullopt;
    }
    // Check that keystrokes can reach anything before starting a program for them.
    if (std::string why = services.injector.unavailableReason(); !why.empty()) {
        return why;
    }
    platform::LaunchResult target;
    KeystrokeScript script;
    // The script holds every password: nothing of it stays in memory once typed.
    struct ScriptWiper {
        KeystrokeScript& script;
        ~ScriptWiper() {
            for (KeyAction& action : script) {
                platform::wipe(action.text);
            }
        }
    } wiper{script};
    services.injector.beforeLaunch();
    if (request.destination == engine::Destination::Notepad) {
        target = services.launcher.startTextEditor();
        script = notepadScript(request.lines, request.titles, request.countText, request.count);
    } else {
        if (request.programPath.empty()) {
            return std::string("Aucun programme n'a été choisi : cliquez sur « Vers un autre "
                               "programme » pour en choisir un.");
        }
        target = services.launcher.startProgram(request.programPath);
        script = otherProgramScript(request.lines, request.titles);
    }
    if (!target.started) {
        return target.error;
    }
    platform::InjectionResult typed = services.injector.typeInto(target, script);
    if (!typed.complete) {
        return typed.error;
    }
    return std::nullopt;
}

} // namespace tolvane::delivery
