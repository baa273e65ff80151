#include "platform/linux/CanberraSound.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/linux/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using tolvane::platform::linux_desktop::CanberraSound;
using tolvane::platform::linux_desktop::ProcessLauncher;

namespace {

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("tolvane-test-" + std::to_string(getpid()))) {
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct EditorCase {
    const char* name;
    const char* exec;
    std::vector<std::string> command;
};

void PrintTo(const EditorCase& c, std::ostream* os) {
    *os << c.name;
}

class TextEditor : public ::testing::TestWithParam<EditorCase> {};

TEST_P(TextEditor, TheDefaultForTextPlainWithoutFieldCodes) {
    const TempDir dir;
    fs::create_directories(dir.path() / "config");
    fs::create_directories(dir.path() / "data/applications");
    std::ofstream(dir.path() / "config/mimeapps.list")
        << "[Added Associations]\ntext/plain=other.desktop;\n"
        << "[Default Applications]\ntext/plain=missing.desktop;my-editor.desktop;\n";
    std::ofstream(dir.path() / "data/applications/my-editor.desktop")
        << "[Desktop Entry]\nName=Mine\nExec=" << GetParam().exec << "\n[Desktop Action x]\n"
        << "Exec=/bin/false\n";
    setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (dir.path() / "none").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir.path() / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir.path() / "none").c_str(), 1);
    EXPECT_EQ(ProcessLauncher::textEditorCommand(), GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, TextEditor,
    ::testing::Values(
        EditorCase{"plain", "/bin/true", {"/bin/true"}},
        EditorCase{"field_codes", "/bin/true --new-window %U", {"/bin/true", "--new-window"}},
        EditorCase{
            "quoted", "\"/bin/true\" \"two words\" 100%%", {"/bin/true", "two words", "100%"}},
        EditorCase{"on_path", "true %f", {"true"}},
        EditorCase{"escapes_before_quoting",
                   R"("/bin/true" "a\\\\b" x\sy)",
                   {"/bin/true", "a\\b", "x", "y"}},
        EditorCase{
            "file_code_inside_an_argument", "/bin/true --file=%f --new", {"/bin/true", "--new"}},
        EditorCase{
            "name_and_icon_codes", "/bin/true --title=%c %i %m", {"/bin/true", "--title=Mine"}},
        // A single-instance editor gets a process and a window of its own.
        EditorCase{"own_instance", "mousepad %U", {"mousepad", "--disable-server"}},
        EditorCase{"own_instance_once",
                   "/usr/bin/mousepad --disable-server %U",
                   {"/usr/bin/mousepad", "--disable-server"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Entries that are not a plain windowed editor ready to run are passed over.
TEST(TextEditorEntries, TerminalHiddenAndMissingTryExecAreSkipped) {
    const TempDir dir;
    fs::create_directories(dir.path() / "config");
    fs::create_directories(dir.path() / "data/applications");
    fs::create_directories(dir.path() / "system/applications");
    std::ofstream(dir.path() / "config/mimeapps.list")
        << "[Default Applications]\ntext/plain=term.desktop;hidden.desktop;tryexec.desktop;"
           "good.desktop\n";
    const std::pair<const char*, const char*> entries[] = {
        {"term.desktop", "Exec=/bin/true --terminal\nTerminal=true\n"},
        {"hidden.desktop", "Exec=/bin/true --hidden\nHidden=true\n"},
        {"tryexec.desktop", "Exec=/bin/true --tryexec\nTryExec=/nonexistent/editor\n"},
        {"good.desktop", "Exec=/bin/true --good\nTryExec=true\n"}};
    for (const auto& [name, body] : entries) {
        std::ofstream(dir.path() / "data/applications" / name)
            << "[Desktop Entry]\nType=Application\nName=X\n"
            << body;
    }
    // The system's entry of the same name is hidden by the user's.
    std::ofstream(dir.path() / "system/applications/hidden.desktop")
        << "[Desktop Entry]\nType=Application\nName=X\nExec=/bin/true --system\n";
    setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (dir.path() / "none").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir.path() / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir.path() / "system").c_str(), 1);
    EXPECT_EQ(ProcessLauncher::textEditorCommand(),
              (std::vector<std::string>{"/bin/true", "--good"}));
}

// The names an entry declares for its program's windows: the editor's, and those of the entries
// that run a program started by its path; an entry of the user's hides the system's of that id.
TEST(TextEditorEntries, TheEntriesTellTheNamesOfTheirWindows) {
    const TempDir dir;
    fs::create_directories(dir.path() / "config");
    fs::create_directories(dir.path() / "data/applications");
    fs::create_directories(dir.path() / "system/applications");
    std::ofstream(dir.path() / "config/mimeapps.list")
        << "[Default Applications]\ntext/plain=my-editor.desktop\n";
    const std::pair<const char*, const char*> entries[] = {
        {"data/applications/my-editor.desktop", "Exec=/bin/true %U\nStartupWMClass=MyEd\n"},
        {"system/applications/calc.desktop", "Exec=true --calc\n"},
        {"data/applications/hidden.desktop", "Exec=/bin/false\n"},
        {"system/applications/hidden.desktop", "Exec=/bin/true\n"},
        {"system/applications/other.desktop", "Exec=/bin/false\nStartupWMClass=Other\n"}};
    for (const auto& [name, body] : entries) {
        std::ofstream(dir.path() / name) << "[Desktop Entry]\nType=Application\nName=X\n" << body;
    }
    setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (dir.path() / "none").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir.path() / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir.path() / "system").c_str(), 1);
    EXPECT_EQ(ProcessLauncher::textEditor().declaredNames,
              (std::vector<std::string>{"my-editor", "MyEd"}));
    auto names = tolvane::platform::linux_desktop::declaredWindowNamesOf("/bin/true");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"MyEd", "calc", "my-editor"}));
}

TEST(Sound, LooksInTheCurrentDirectoryThenTheDataDirectories) {
    const TempDir dir;
    fs::create_directories(dir.path() / "first");
    fs::create_directories(dir.path() / "second");
    std::ofstream(dir.path() / "second/notify.wav") << "RIFF";
    CanberraSound sound({(dir.path() / "first").string(), (dir.path() / "second").string()});
    EXPECT_EQ(sound.resolve("notify.wav"), (dir.path() / "second/notify.wav").string());
    const fs::path cwd = fs::current_path();
    std::ofstream(dir.path() / "notify.wav") << "RIFF";
    fs::current_path(dir.path());
    EXPECT_EQ(sound.resolve("notify.wav"), (dir.path() / "notify.wav").string());
    fs::current_path(cwd);
    EXPECT_EQ(sound.resolve("absent.wav"), "");
    sound.playAsync("absent.wav"); // nothing to play: no error
}

} // namespace

#include "platform/x11/X11KeystrokeInjector.h"

namespace {

struct SessionCase {
    const char* name;
    const char* display;
    const char* wayland;
    const char* sessionType;
    const char* message;
};

void PrintTo(const SessionCase& c, std::ostream* os) {
    *os << c.name;
}

class Sessions : public ::testing::TestWithParam<SessionCase> {};

void setOrUnset(const char* name, const char* value) {
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

TEST_P(Sessions, KeystrokesAreRefusedWhereTheyCannotArrive) {
    const auto& p = GetParam();
    setOrUnset("DISPLAY", p.display);
    setOrUnset("WAYLAND_DISPLAY", p.wayland);
    setOrUnset("XDG_SESSION_TYPE", p.sessionType);
    tolvane::platform::x11::X11KeystrokeInjector injector;
    EXPECT_EQ(injector.unavailableReason().rfind(p.message, 0), 0u) << injector.unavailableReason();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Sessions,
    ::testing::Values(SessionCase{"wayland_display", ":0", "wayland-0", nullptr,
                                  "Cette session graphique utilise Wayland"},
                      SessionCase{"wayland_session", ":0", nullptr, "wayland",
                                  "Cette session graphique utilise Wayland"},
                      SessionCase{"no_display", nullptr, nullptr, "x11",
                                  "Aucun affichage X11 n'est accessible"},
                      SessionCase{"unreachable_display", ":97", nullptr, nullptr,
                                  "Aucun affichage X11 n'est accessible"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

using tolvane::platform::linux_desktop::childHasExited;
using tolvane::platform::linux_desktop::reapWhenExited;

// The started program sees only the standard descriptors, however ours were opened.
TEST(Launch, ProgramInheritsNoDescriptorOfOurs) {
    const TempDir dir;
    const int opened = open("/dev/null", O_RDONLY);
    const int leaky = fcntl(opened, F_DUPFD, 40); // no close-on-exec
    close(opened);
    ASSERT_GE(leaky, 40);
    const fs::path out = dir.path() / "fds";
    const fs::path program = dir.path() / "list-fds";
    std::ofstream(program) << "#!/bin/sh\nexec ls /proc/self/fd > " << out.string() << "\n";
    fs::permissions(program, fs::perms::owner_all);
    ProcessLauncher launcher;
    const auto started = launcher.startProgram(program.string());
    ASSERT_TRUE(started.started) << started.error;
    int status = 0;
    ASSERT_EQ(waitpid(started.pid, &status, 0), started.pid);
    close(leaky);
    std::ifstream in(out);
    std::vector<int> fds;
    for (int fd; in >> fd;) {
        fds.push_back(fd);
    }
    // 0, 1, 2, and the directory ls is reading.
    EXPECT_EQ(fds.size(), 4u);
    EXPECT_EQ(std::count(fds.begin(), fds.end(), leaky), 0);
}

// The child stays a zombie, its id not reusable, until it is handed to the reaper.
TEST(Launch, ChildIsReapedOnlyOnceHandedOver) {
    ProcessLauncher launcher;
    const auto started = launcher.startProgram("/bin/true");
    ASSERT_TRUE(started.started) << started.error;
    struct sigaction current {};
    sigaction(SIGCHLD, nullptr, &current);
    EXPECT_NE(current.sa_handler, SIG_IGN);
    for (int i = 0; i < 200 && !childHasExited(started.pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(childHasExited(started.pid));
    EXPECT_EQ(kill(started.pid, 0), 0) << "reaped too early";
    reapWhenExited(started.pid);
    for (int i = 0; i < 200 && kill(started.pid, 0) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(kill(started.pid, 0), 0);
    EXPECT_TRUE(childHasExited(started.pid));
}

} // namespace

#include "platform/Wipe.h"
#include "platform/linux/CoreDumps.h"

namespace {

TEST(Secrets, CoreDumpsAreForbidden) {
    tolvane::platform::linux_desktop::forbidCoreDumps();
    EXPECT_TRUE(tolvane::platform::linux_desktop::coreDumpsForbidden());
    rlimit core{};
    getrlimit(RLIMIT_CORE, &core);
    EXPECT_EQ(core.rlim_cur, 0u);
    {
        // For a call to the desktop portal, which must read /proc/<pid>/root.
        const tolvane::platform::linux_desktop::ReadableByThePortal readable;
        EXPECT_FALSE(tolvane::platform::linux_desktop::coreDumpsForbidden());
        getrlimit(RLIMIT_CORE, &core);
        EXPECT_EQ(core.rlim_cur, 0u);
    }
    EXPECT_TRUE(tolvane::platform::linux_desktop::coreDumpsForbidden());
}

TEST(Secrets, WipedTextLeavesNothingInItsBuffer) {
    std::u32string secret = U"mot-de-passe-assez-long-pour-le-tas";
    const char32_t* buffer = secret.data();
    const std::size_t size = secret.size();
    tolvane::platform::wipe(secret);
    EXPECT_TRUE(secret.empty());
    // The buffer is still the string's own (clear keeps the capacity): it reads zeros.
    EXPECT_EQ(secret.data(), buffer);
    EXPECT_EQ(std::u32string(buffer, size), std::u32string(size, U'\0'));
}

} // namespace
