#pragma once

#include "fakes/ScriptedRandomSource.h"
#include "platform/Clipboard.h"
#include "platform/FileDialog.h"
#include "platform/KeystrokeInjector.h"
#include "platform/MessageBox.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"
#include "platform/TextReadBack.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::fakes {

// Every call a fake receives, in order, as one line each.
using CallLog = std::vector<std::string>;

struct MessageCall {
    std::string text;
    platform::MessageIcon icon;
    platform::MessageButtons buttons;
    std::string title;
};

class FakeMessageBox final : public platform::MessageBox {
public:
    explicit FakeMessageBox(CallLog& log) : log_(log) {}
    platform::MessageAnswer show(const std::string& text, platform::MessageIcon icon,
                                 platform::MessageButtons buttons,
                                 const std::string& title) override {
        calls.push_back({text, icon, buttons, title});
        log_.push_back("message:" + text);
        if (!answers.empty()) {
            auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok
                                                       : platform::MessageAnswer::No;
    }
    std::vector<MessageCall> calls;
    std::deque<platform::MessageAnswer> answers; // scripted, then Ok / No

private:
    CallLog& log_;
};

class FakeFileDialog final : public platform::FileDialog {
public:
    explicit FakeFileDialog(CallLog& log) : log_(log) {}
    std::optional<std::string> getOpenFileName(const std::string& title,
                                               const std::vector<platform::FileFilter>& filters,
                                               const std::string& initialPath) override {
        log_.push_back("dialog:" + title);
        lastFilters = filters;
        lastInitialPath = initialPath;
        if (answers.empty()) {
            return std::nullopt;
        }
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<std::optional<std::string>> answers; // nullopt: cancelled
    std::vector<platform::FileFilter> lastFilters;
    std::string lastInitialPath;

private:
    CallLog& log_;
};

class FakeLauncher final : public platform::ProgramLauncher {
public:
    explicit FakeLauncher(CallLog& log) : log_(log) {}
    platform::LaunchResult startTextEditor(const std::vector<std::string>& = {}) override {
        log_.push_back("start:editor");
        return result("editor");
    }
    platform::LaunchResult startProgram(const std::string& path,
                                        const std::vector<std::string>& = {}) override {
        log_.push_back("start:" + path);
        return result(path);
    }
    void release(const platform::LaunchResult& started) override {
        log_.push_back("release:" + started.program);
    }
    platform::Spreadsheet spreadsheetAt(const std::string&) override { return spreadsheet; }
    bool fail = false;
    platform::Spreadsheet spreadsheet = platform::Spreadsheet::None;

private:
    platform::LaunchResult result(const std::string& program) {
        platform::LaunchResult r;
        r.program = program;
        r.started = !fail;
        r.pid = fail ? 0 : 4242;
        if (fail) {
            r.error = "Le programme « " + program + " » ne peut pas être lancé.";
        }
        return r;
    }
    CallLog& log_;
};

class FakeInjector final : public platform::KeystrokeInjector {
public:
    explicit FakeInjector(CallLog& log) : log_(log) {}
    std::string unavailableReason() override {
        if (whileAsking) {
            whileAsking(); // what the person does while the desktop asks
        }
        return unavailable;
    }
    platform::Preparation prepare(const platform::KeystrokeScript&, std::u32string_view) override {
        log_.push_back("injector:prepare");
        return preparation;
    }
    std::vector<std::string> beforeLaunch() override {
        log_.push_back("injector:before-launch");
        return {};
    }
    platform::InjectionResult typeInto(const platform::LaunchResult& target,
                                       const platform::KeystrokeScript& script,
                                       const platform::ScriptChooser& choose = {}) override {
        log_.push_back("type:" + target.program);
        const platform::KeystrokeScript* chosen = choose ? choose(windowNames) : nullptr;
        scripts.push_back(chosen ? *chosen : script);
        if (whileTyping) {
            whileTyping(); // what the person does while the keys go out
        }
        return {true, {}};
    }
    bool canPaste() override { return pastes; }
    platform::InjectionResult pasteInto(const platform::LaunchResult& target,
                                        const std::function<void()>& justBefore) override {
        justBefore();
        log_.push_back("paste:" + target.program);
        return {true, {}};
    }
    std::string unavailable;
    std::function<void()> whileAsking;
    std::function<void()> whileTyping;
    platform::Preparation preparation;    // what planning finds
    std::vector<std::string> windowNames; // what the target's window goes by
    bool pastes = false;
    std::vector<platform::KeystrokeScript> scripts;

private:
    CallLog& log_;
};

class FakeClipboard final : public platform::Clipboard {
public:
    explicit FakeClipboard(CallLog& log) : log_(log) {}
    void setSecretText(const std::string& utf8) override {
        log_.push_back("clipboard");
        texts.push_back(utf8);
    }
    void countReadsFromNow() override { log_.push_back("clipboard:reads-from-now"); }
    bool takeOffOnceRead(std::chrono::milliseconds limit) override {
        log_.push_back("clipboard:take-off" + std::string(limit.count() ? "-once-read" : ""));
        return read;
    }
    std::vector<std::string> texts;
    bool read = true; // whether the target reads what is pasted

private:
    CallLog& log_;
};

class FakeSound final : public platform::Sound {
public:
    explicit FakeSound(CallLog& log) : log_(log) {}
    void playAsync(const std::string& fileName) override { log_.push_back("sound:" + fileName); }

private:
    CallLog& log_;
};

// What the target shows once typed into: by default the text typed, as it was typed.
class FakeReadBack final : public platform::TextReadBack {
public:
    FakeReadBack(CallLog& log, const FakeInjector& injector) : log_(log), injector_(injector) {}
    platform::ShownText read(const platform::LaunchResult& target, std::size_t) override {
        log_.push_back("read-back:" + target.program);
        if (shown) {
            return *shown;
        }
        return {platform::ShownText::Outcome::Read,
                injector_.scripts.empty() ? U"" : platform::typedText(injector_.scripts.back())};
    }
    std::optional<platform::ShownText> shown; // what it shows instead

private:
    CallLog& log_;
    const FakeInjector& injector_;
};

// One set of fakes, one for each service the window reaches.
struct FakePlatform {
    CallLog log;
    FakeMessageBox messageBox{log};
    FakeFileDialog fileDialog{log};
    FakeLauncher launcher{log};
    FakeInjector injector{log};
    FakeClipboard clipboard{log};
    FakeSound sound{log};
    FakeReadBack readBack{log, injector};
    ScriptedRandomSource random{spreadWords()};
};

} // namespace tolvane::fakes
