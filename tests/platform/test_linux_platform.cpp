#include "platform/linux/CanberraSound.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/linux/KeyboardLayouts.h"
#include "platform/linux/Launchers.h"
#include "platform/linux/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

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

// GIO reads the XDG folders once per process: each case asks in a new process of its own (the
// test run again up to here), with the folders of the case, and says what it found.
void expectInFreshProcess(const fs::path& home,
                          const std::vector<std::pair<const char*, std::string>>& env,
                          std::vector<std::string> (*ask)(), const std::vector<std::string>& want) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (chdir(home.c_str()) != 0) {
                std::exit(2);
            }
            setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
            setenv("XDG_CONFIG_DIRS", (home / "none").c_str(), 1);
            setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
            setenv("XDG_DATA_DIRS", (home / "system").c_str(), 1);
            unsetenv("XDG_CURRENT_DESKTOP");
            for (const auto& [name, value] : env) {
                setenv(name, value.c_str(), 1);
            }
            const auto got = ask();
            std::cerr << "found:";
            for (const auto& word : got) {
                std::cerr << " [" << word << "]";
            }
            std::cerr << "\n";
            fs::remove_all(home);
            std::exit(got == want ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

std::vector<std::string> editorCommand() {
    return ProcessLauncher::textEditorCommand();
}

// Files of a case, by their path below its home.
using Files = std::vector<std::pair<std::string, std::string>>;

void write(const fs::path& home, const Files& files) {
    for (const auto& [path, body] : files) {
        fs::create_directories((home / path).parent_path());
        std::ofstream(home / path) << body;
        fs::permissions(home / path, fs::perms::owner_exec, fs::perm_options::add);
    }
}

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
    write(dir.path(),
          {{"config/mimeapps.list", "[Added Associations]\ntext/plain=other.desktop;\n"
                                    "[Default Applications]\ntext/plain=missing.desktop;"
                                    "my-editor.desktop;\n"},
           {"data/applications/my-editor.desktop",
            std::string("[Desktop Entry]\nType=Application\nName=Mine\nExec=") + GetParam().exec +
                "\n[Desktop Action x]\nExec=/bin/false\n"}});
    expectInFreshProcess(dir.path(), {}, editorCommand, GetParam().command);
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

// Which entry is the text editor: the desktop's rules for MIME lists and entries.
struct ChoiceCase {
    const char* name;
    Files files;
    std::vector<std::pair<const char*, std::string>> env;
    std::vector<std::string> command;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class TextEditorChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(TextEditorChoice, FollowsTheDesktopsRules) {
    const TempDir dir;
    write(dir.path(), GetParam().files);
    expectInFreshProcess(dir.path(), GetParam().env, editorCommand, GetParam().command);
}

std::string entry(const std::string& body) {
    return "[Desktop Entry]\nType=Application\nName=X\n" + body + "\n";
}

const std::string textPlainDefault = "[Default Applications]\ntext/plain=";

INSTANTIATE_TEST_SUITE_P(
    Entries, TextEditorChoice,
    ::testing::Values(
        // Entries that are not a windowed editor ready to run are passed over; an entry of the
        // user's hides the system's of that id.
        ChoiceCase{
            "hidden_terminal_missing_tryexec",
            {{"config/mimeapps.list",
              textPlainDefault + "hidden.desktop;tryexec.desktop;term.desktop\n"},
             {"data/applications/hidden.desktop", entry("Exec=/bin/true --h\nHidden=true")},
             {"system/applications/hidden.desktop", entry("Exec=/bin/true --system")},
             {"data/applications/tryexec.desktop",
              entry("Exec=/bin/true --t\nTryExec=/nonexistent/editor")},
             {"data/applications/term.desktop",
              entry("Exec=/bin/true --term\nTerminal=true\nMimeType=text/plain;")},
             {"system/applications/good.desktop",
              entry("Exec=/bin/true --good\nTryExec=true\nMimeType=text/plain;")},
             {"system/applications/mimeinfo.cache", "[MIME Cache]\ntext/plain=good.desktop;\n"}},
            {},
            {"/bin/true", "--good"}},
        ChoiceCase{"blanks_around_equals",
                   {{"config/mimeapps.list", "[Default Applications]\ntext/plain = ed.desktop\n"},
                    {"data/applications/ed.desktop", entry("Exec = /bin/true --spaced")}},
                   {},
                   {"/bin/true", "--spaced"}},
        ChoiceCase{"the_desktops_own_list_first",
                   {{"config/mimeapps.list", textPlainDefault + "all.desktop\n"},
                    {"config/kde-mimeapps.list", textPlainDefault + "kde.desktop\n"},
                    {"data/applications/all.desktop", entry("Exec=/bin/true --all")},
                    {"data/applications/kde.desktop", entry("Exec=/bin/true --kde")}},
                   {{"XDG_CURRENT_DESKTOP", "KDE"}},
                   {"/bin/true", "--kde"}},
        ChoiceCase{"removed_association",
                   {{"config/mimeapps.list", "[Removed Associations]\ntext/plain=first.desktop;\n"},
                    {"system/applications/first.desktop",
                     entry("Exec=/bin/true --first\nMimeType=text/plain;")},
                    {"system/applications/second.desktop",
                     entry("Exec=/bin/true --second\nMimeType=text/plain;")},
                    {"system/applications/mimeinfo.cache",
                     "[MIME Cache]\ntext/plain=first.desktop;second.desktop;\n"}},
                   {},
                   {"/bin/true", "--second"}},
        ChoiceCase{"id_from_a_subfolder",
                   {{"config/mimeapps.list", textPlainDefault + "kde4-ed.desktop\n"},
                    {"system/applications/kde4/ed.desktop", entry("Exec=/bin/true --kde4")}},
                   {},
                   {"/bin/true", "--kde4"}},
        // An empty PATH entry is not the current folder, here as when the program starts.
        ChoiceCase{"empty_path_entry",
                   {{"config/mimeapps.list", textPlainDefault + "ed.desktop\n"},
                    {"data/applications/ed.desktop", entry("Exec=ed-here")},
                    {"ed-here", "#!/bin/sh\n"}},
                   {{"PATH", ":"}},
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<std::string> declaredNames() {
    namespace desktop = tolvane::platform::linux_desktop;
    auto names = ProcessLauncher::textEditor().declaredNames;
    for (auto found : {desktop::declaredWindowNamesOf("/bin/true"),
                       desktop::declaredWindowNamesThrough("launcher")}) {
        std::sort(found.begin(), found.end());
        names.push_back("--");
        names.insert(names.end(), found.begin(), found.end());
    }
    return names;
}

// The names an entry declares for its program's windows: the editor's, and those of the entries
// that run a program started by its path; an entry of the user's hides the system's of that id.
TEST(TextEditorEntries, TheEntriesTellTheNamesOfTheirWindows) {
    const TempDir dir;
    write(dir.path(),
          {{"config/mimeapps.list", textPlainDefault + "my-editor.desktop\n"},
           {"data/applications/my-editor.desktop", entry("Exec=/bin/true %U\nStartupWMClass=MyEd")},
           {"system/applications/calc.desktop", entry("Exec=true --calc")},
           {"data/applications/hidden.desktop", entry("Exec=/bin/false")},
           {"system/applications/hidden.desktop", entry("Exec=/bin/true")},
           {"system/applications/other.desktop", entry("Exec=/bin/false\nStartupWMClass=Other")},
           {"system/applications/writer.desktop", entry("Exec=true --writer")},
           // A launcher script that runs another, which runs a program an entry runs.
           {"launcher", "#!/bin/sh\nexec ./inner \"$@\"\n"},
           {"inner", "#!/bin/sh\n# a comment\n/bin/false --helper &\nA=1 exec /bin/true --calc "
                     "'--x;y' \"$@\"\n"}});
    expectInFreshProcess(
        dir.path(), {}, declaredNames,
        (std::vector<std::string>{"my-editor", "MyEd", "--", "MyEd", "calc", "my-editor", "writer",
                                  "--", "MyEd", "calc", "my-editor"}));
}

std::vector<std::string> spreadsheets() {
    using tolvane::platform::Spreadsheet;
    ProcessLauncher launcher;
    std::vector<std::string> kinds;
    for (const char* path : {"/opt/x/localc", "/opt/x/gnumeric", "/bin/true", "/bin/false",
                             "/bin/sh", "tableur", "flatpak-gnumeric"}) {
        const Spreadsheet kind = launcher.spreadsheetAt(path);
        kinds.push_back(kind == Spreadsheet::LibreOffice ? "LibreOffice"
                        : kind == Spreadsheet::Gnumeric  ? "Gnumeric"
                        : kind == Spreadsheet::Other     ? "Other"
                                                         : "None");
    }
    return kinds;
}

// A spreadsheet by its name, by what its launcher script runs, or by an entry that runs it as it is
// started (no argument of its own) and counts it among the spreadsheets.
TEST(Spreadsheets, ByNameOrByTheirEntry) {
    const TempDir dir;
    write(dir.path(),
          {{"data/applications/sheet.desktop",
            entry("Exec=/bin/true %U\nCategories=Office;Spreadsheet;")},
           {"data/applications/calc.desktop",
            entry("Exec=/bin/false --calc\nCategories=Spreadsheet;")},
           {"data/applications/shell.desktop", entry("Exec=/bin/sh\nCategories=Utility;")},
           // A person's own launcher of another name, and a flatpak's exported command.
           {"bin/localc", "#!/bin/sh\n"},
           {"tableur", "#!/bin/sh\nexec ./bin/localc --norestore \"$@\"\n"},
           {"flatpak-gnumeric", "#!/bin/sh\nexec /bin/true run org.gnome.Gnumeric \"$@\"\n"}});
    expectInFreshProcess(
        dir.path(), {}, spreadsheets,
        {"LibreOffice", "Gnumeric", "Other", "None", "None", "LibreOffice", "Gnumeric"});
}

std::vector<std::string> layoutOfANewWindow() {
    using tolvane::platform::linux_desktop::NewWindowLayout;
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    const NewWindowLayout layout = tolvane::platform::linux_desktop::newWindowLayout(desktop);
    return {layout.rule == NewWindowLayout::Rule::First     ? "first"
            : layout.rule == NewWindowLayout::Rule::Unknown ? "unknown"
                                                            : "current"};
}

class NewWindowLayouts : public ::testing::TestWithParam<ChoiceCase> {};

// The layout a new window gets, by the desktop's own settings, with GNOME's read through a
// settings file (GSETTINGS_BACKEND=keyfile) under a schema of the case's.
TEST_P(NewWindowLayouts, AsTheDesktopsSettingsChooseIt) {
    const TempDir dir;
    write(dir.path(), GetParam().files);
    if (const fs::path schemas = dir.path() / "system/glib-2.0/schemas"; fs::exists(schemas)) {
        ASSERT_EQ(std::system(("glib-compile-schemas " + schemas.string()).c_str()), 0);
    }
    expectInFreshProcess(dir.path(), GetParam().env, layoutOfANewWindow, GetParam().command);
}

const char* const kInputSourcesSchema =
    R"xml(<schemalist><schema id="org.gnome.desktop.input-sources"
path="/org/gnome/desktop/input-sources/"><key name="sources" type="a(ss)"><default>[]</default>
</key><key name="per-window" type="b"><default>false</default></key></schema></schemalist>)xml";

Files inputSources(const std::string& settings) {
    return {{"system/glib-2.0/schemas/input-sources.gschema.xml", kInputSourcesSchema},
            {"config/glib-2.0/settings/keyfile",
             "[org/gnome/desktop/input-sources]\n" + settings + "\n"}};
}

const std::vector<std::pair<const char*, std::string>> kKde = {{"XDG_CURRENT_DESKTOP", "KDE"}};
const std::vector<std::pair<const char*, std::string>> kGnome = {
    {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}, {"GSETTINGS_BACKEND", "keyfile"}};
const std::string kPerWindow = "per-window=true\nsources=";

INSTANTIATE_TEST_SUITE_P(
    Desktops, NewWindowLayouts,
    ::testing::Values(
        ChoiceCase{"kde_as_it_comes", {}, kKde, {"current"}},
        ChoiceCase{"kde_per_window",
                   {{"config/kxkbrc", "[Layout]\nLayoutList=us,ru\nSwitchMode=Window\n"}},
                   kKde,
                   {"first"}},
        ChoiceCase{"kde_per_application",
                   {{"config/kxkbrc", "[Layout]\nSwitchMode = winclass\n"}},
                   kKde,
                   {"unknown"}},
        ChoiceCase{"kde_per_desktop",
                   {{"config/kxkbrc", "[Other]\nSwitchMode=Window\n[Layout]\nSwitchMode=Desktop"}},
                   kKde,
                   {"current"}},
        // The system's setting, where the user has none.
        ChoiceCase{"kde_system_folder",
                   {{"config/kxkbrc", "[Layout]\nUse=true\n"},
                    {"none/kxkbrc", "[Layout]\nSwitchMode=Window\n"}},
                   kKde,
                   {"first"}},
        ChoiceCase{"other_desktop",
                   {{"config/kxkbrc", "[Layout]\nSwitchMode=Window\n"}},
                   {{"XDG_CURRENT_DESKTOP", "XFCE"}},
                   {"current"}},
        // No schema: nothing read, and the program goes on.
        ChoiceCase{"gnome_without_schema", {}, kGnome, {"current"}},
        ChoiceCase{"gnome_one_source_for_all",
                   inputSources("sources=[('xkb', 'us'), ('xkb', 'ru')]"),
                   kGnome,
                   {"current"}},
        ChoiceCase{"gnome_per_window",
                   inputSources(kPerWindow + "[('xkb', 'fr+oss'), ('xkb', 'ru')]"),
                   kGnome,
                   {"first"}},
        ChoiceCase{"gnome_per_window_one_source",
                   inputSources(kPerWindow + "[('ibus', 'anthy')]"),
                   kGnome,
                   {"current"}},
        ChoiceCase{"gnome_per_window_input_method_first",
                   inputSources(kPerWindow + "[('ibus', 'anthy'), ('xkb', 'us')]"),
                   kGnome,
                   {"unknown"}},
        ChoiceCase{"gnome_per_window_four_layouts",
                   inputSources(kPerWindow +
                                "[('xkb', 'us'), ('xkb', 'ru'), ('xkb', 'us'), ('xkb', 'de'), "
                                "('ibus', 'anthy')]"),
                   kGnome,
                   {"unknown"}}),
    [](const auto& info) { return std::string(info.param.name); });

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
