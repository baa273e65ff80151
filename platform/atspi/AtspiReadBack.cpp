#include "platform/atspi/AtspiReadBack.h"

#include "platform/Wipe.h"
#include "platform/linux/Processes.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <algorithm>
#include <deque>
#include <thread>
#include <utility>

namespace tolvane::platform::atspi {

namespace {

using Clock = std::chrono::steady_clock;

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kText = QStringLiteral("org.a11y.atspi.Text");
const QString kTable = QStringLiteral("org.a11y.atspi.Table");
const QString kCollection = QStringLiteral("org.a11y.atspi.Collection");
// What a reference to no object names.
const QString kNoObject = QStringLiteral("/org/a11y/atspi/null");

// The roles an accessible object reports that the searches use.
enum Role : uint {
    Menu = 33,
    MenuBar = 34,
    PageTabList = 38,
    PopupMenu = 41,
    StatusBar = 54,
    Table = 55,
    ToolBar = 63,
    DocumentWeb = 95,
};

// The states an accessible object reports (bits of two 32-bit words).
enum State {
    Active = 1,
    Defunct = 6,
    Editable = 7,
    Focused = 12,
    MultiLine = 17,
    Showing = 25,
    ManagesDescendants = 31,
};

// How many objects of the program are looked at, at most: its windows' controls, never the
// cells of a table (those manage their descendants).
constexpr int kObjectsLooked = 4000;

// A collection's match rule (AT-SPI): states, then attributes, roles and interfaces, each with
// how they match; whether it is inverted.
constexpr int kMatchAll = 1;
constexpr uint kSortCanonical = 1;

struct Object {
    QString bus;
    QString path;
};

class Reader {
public:
    Reader(QDBusConnection bus, Clock::time_point deadline) : bus_(bus), deadline_(deadline) {}

    bool late() const { return Clock::now() >= deadline_; }

    // The reply, or none when there was no answer in time (late() tells which).
    std::optional<QDBusMessage> call(const Object& object, const QString& interface,
                                     const QString& method, const QVariantList& arguments = {}) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        QDBusMessage message =
            QDBusMessage::createMethodCall(object.bus, object.path, interface, method);
        message.setArguments(arguments);
        QDBusMessage reply = bus_.call(message, QDBus::Block, static_cast<int>(left.count()));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return std::nullopt;
        }
        return reply;
    }

    std::vector<Object> children(const Object& object) {
        const auto reply = call(object, kAccessible, QStringLiteral("GetChildren"));
        return reply ? references(*reply) : std::vector<Object>{};
    }

    // The objects a reply names (an array of references: bus name and path).
    static std::vector<Object> references(const QDBusMessage& reply) {
        std::vector<Object> out;
        const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            Object child;
            QDBusObjectPath path;
            list.beginStructure();
            list >> child.bus >> path;
            list.endStructure();
            child.path = path.path();
            out.push_back(std::move(child));
        }
        list.endArray();
        return out;
    }

    // The states set, as one 64-bit word; none when it did not answer.
    std::optional<unsigned long long> states(const Object& object) {
        const auto reply = call(object, kAccessible, QStringLiteral("GetState"));
        if (!reply) {
            return std::nullopt;
        }
        const QDBusArgument list = reply->arguments().at(0).value<QDBusArgument>();
        unsigned long long bits = 0;
        int word = 0;
        list.beginArray();
        while (!list.atEnd()) {
            uint value = 0;
            list >> value;
            if (word < 2) {
                bits |= static_cast<unsigned long long>(value) << (32 * word++);
            }
        }
        list.endArray();
        return bits;
    }

    std::optional<uint> role(const Object& object) {
        const auto reply = call(object, kAccessible, QStringLiteral("GetRole"));
        if (!reply) {
            return std::nullopt;
        }
        return reply->arguments().at(0).toUInt();
    }

    // The object a call answers with (a reference: bus name and path).
    std::optional<Object> object(const Object& of, const QString& interface, const QString& method,
                                 const QVariantList& arguments) {
        const auto reply = call(of, interface, method, arguments);
        if (!reply) {
            return std::nullopt;
        }
        Object out;
        QDBusObjectPath path;
        const QDBusArgument reference = reply->arguments().at(0).value<QDBusArgument>();
        reference.beginStructure();
        reference >> out.bus >> path;
        reference.endStructure();
        out.path = path.path();
        return out;
    }

    std::optional<pid_t> processOf(const QString& bus) {
        const auto reply =
            call({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus")},
                 QStringLiteral("org.freedesktop.DBus"),
                 QStringLiteral("GetConnectionUnixProcessID"), {bus});
        if (!reply) {
            return std::nullopt;
        }
        return static_cast<pid_t>(reply->arguments().at(0).toUInt());
    }

private:
    QDBusConnection bus_;
    Clock::time_point deadline_;
};

bool has(unsigned long long states, State state) {
    return (states >> state) & 1;
}

// Where an object is embedded in a text, AT-SPI shows this character: nothing typed (Chromium
// ends a text area's last line break with one).
constexpr char32_t kEmbeddedObject = 0xFFFC;

// The text of a QString, its buffer (shared with the reply it came in) overwritten; embedded
// objects left out.
std::u32string takeText(QString& text) {
    std::u32string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    const char16_t* units = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < size && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        if (c != kEmbeddedObject) {
            out += c;
        }
    }
    wipeBytes(const_cast<QChar*>(text.constData()), static_cast<std::size_t>(size) * sizeof(QChar));
    return out;
}

// The started program, among those on the bus: the one whose connection belongs to the
// started process or one it started.
std::optional<Object> startedProgram(Reader& reader, pid_t started) {
    for (const Object& application :
         reader.children({QStringLiteral("org.a11y.atspi.Registry"),
                          QStringLiteral("/org/a11y/atspi/accessible/root")})) {
        const auto pid = reader.processOf(application.bus);
        if (pid && linux_desktop::descendsFrom(*pid, started)) {
            return application;
        }
    }
    return std::nullopt;
}

// Its active window first; all its windows shown when none tells it is active.
std::deque<Object> windowsOf(Reader& reader, const Object& program) {
    std::deque<Object> look;
    for (const Object& window : reader.children(program)) {
        const auto states = reader.states(window);
        if (states && has(*states, Active)) {
            look.push_front(window);
        } else if (states && has(*states, Showing)) {
            look.push_back(window);
        }
    }
    return look;
}

// The whole text of an object into `text`: Read, or NotChecked when it holds more than `limit`
// characters or did not answer in time.
ShownText::Outcome textOf(Reader& reader, const Object& object, std::size_t limit,
                          std::u32string& text) {
    const auto count =
        reader.call(object, QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("Get"), {kText, QStringLiteral("CharacterCount")});
    if (!count) {
        return ShownText::Outcome::NotChecked;
    }
    const int characters = count->arguments().at(0).value<QDBusVariant>().variant().toInt();
    if (characters < 0 || static_cast<std::size_t>(characters) > limit) {
        return ShownText::Outcome::NotChecked;
    }
    auto reply = reader.call(object, kText, QStringLiteral("GetText"), {0, -1});
    if (!reply) {
        return ShownText::Outcome::NotChecked;
    }
    QVariantList arguments = reply->arguments();
    reply.reset();
    QString content = arguments.at(0).toString();
    arguments.clear();
    text = takeText(content);
    return ShownText::Outcome::Read;
}

// Where a search for the focused field does not go: what manages its descendants (a sheet's
// cells), what is not shown, menus, tool bars (a browser's address bar), tab lists, status bars.
bool leftAside(unsigned long long states, uint role) {
    return has(states, ManagesDescendants) || !has(states, Showing) || role == Menu ||
           role == MenuBar || role == PopupMenu || role == ToolBar || role == PageTabList ||
           role == StatusBar;
}

// The field that has the focus: which it is, whether it holds several lines and then how many
// characters.
FocusedField fieldOf(Reader& reader, const Object& object, unsigned long long states) {
    FocusedField field;
    field.shown = FocusedField::Shown::Field;
    field.id = (object.bus + object.path).toStdString();
    if (has(states, MultiLine)) {
        const auto count =
            reader.call(object, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("Get"), {kText, QStringLiteral("CharacterCount")});
        const int characters =
            count ? count->arguments().at(0).value<QDBusVariant>().variant().toInt() : -1;
        field.multiLine = characters >= 0;
        field.characters = static_cast<std::size_t>(std::max(characters, 0));
    }
    return field;
}

// The field that has the focus in a page. A page's program searches it itself (its Collection);
// one that cannot is looked through, object by object.
std::optional<FocusedField> focusedFieldIn(Reader& reader, const Object& page) {
    const unsigned long long wanted = (1ull << Focused) | (1ull << Editable);
    QDBusArgument rule;
    rule.beginStructure();
    rule << QList<int>{static_cast<int>(wanted & 0xffffffffu), static_cast<int>(wanted >> 32)}
         << kMatchAll << QMap<QString, QString>{} << kMatchAll << QList<int>{} << kMatchAll
         << QStringList{} << kMatchAll << false;
    rule.endStructure();
    if (const auto reply = reader.call(page, kCollection, QStringLiteral("GetMatches"),
                                       {QVariant::fromValue(rule), kSortCanonical, 1, true})) {
        for (const Object& found : Reader::references(*reply)) {
            if (const auto states = reader.states(found)) {
                return fieldOf(reader, found, *states);
            }
        }
        return std::nullopt;
    }
    const std::vector<Object> content = reader.children(page);
    std::deque<Object> look(content.begin(), content.end());
    for (int looked = 0; !look.empty() && looked < kObjectsLooked && !reader.late(); ++looked) {
        const Object object = std::move(look.front());
        look.pop_front();
        const auto states = reader.states(object);
        if (!states || has(*states, Defunct) || has(*states, ManagesDescendants)) {
            continue;
        }
        if (has(*states, Focused) && has(*states, Editable)) {
            return fieldOf(reader, object, *states);
        }
        for (Object& child : reader.children(object)) {
            look.push_back(std::move(child));
        }
    }
    return std::nullopt;
}

} // namespace

AtspiReadBack::~AtspiReadBack() {
    if (!connection_.isEmpty()) {
        QDBusConnection::disconnectFromBus(connection_);
    }
}

bool AtspiReadBack::connected(Clock::time_point deadline, bool& late) {
    if (connection_.isEmpty() || !QDBusConnection(connection_).isConnected()) {
        Reader session(QDBusConnection::sessionBus(), deadline);
        const auto address =
            session.call({QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus")},
                         QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
        if (!address) {
            late = session.late();
            return false;
        }
        if (!connection_.isEmpty()) {
            QDBusConnection::disconnectFromBus(connection_);
        }
        connection_ = QStringLiteral("tolvane-read-back");
        if (!QDBusConnection::connectToBus(address->arguments().at(0).toString(), connection_)
                 .isConnected()) {
            return false;
        }
    }
    return true;
}

ShownText AtspiReadBack::read(const LaunchResult& target, std::size_t limit) {
    const Clock::time_point deadline = Clock::now() + kReadBackLimit;
    ShownText shown;
    const auto timedOut = [&](Reader& reader) {
        if (reader.late()) {
            shown.outcome = ShownText::Outcome::NotChecked;
        }
        return shown;
    };
    if (target.pid <= 0) {
        return shown;
    }
    bool late = false;
    if (!connected(deadline, late)) {
        shown.outcome = late ? ShownText::Outcome::NotChecked : shown.outcome;
        return shown;
    }
    Reader reader(QDBusConnection(connection_), deadline);
    const std::optional<Object> program = startedProgram(reader, target.pid);
    if (!program) {
        return timedOut(reader);
    }
    std::deque<Object> look = windowsOf(reader, *program);
    for (int looked = 0; !look.empty() && looked < kObjectsLooked; ++looked) {
        const Object object = std::move(look.front());
        look.pop_front();
        const auto states = reader.states(object);
        if (!states || has(*states, Defunct)) {
            continue;
        }
        if (has(*states, Focused) && has(*states, Editable)) {
            if (!has(*states, MultiLine)) {
                return shown;
            }
            shown.outcome = textOf(reader, object, limit, shown.text);
            return shown;
        }
        if (has(*states, ManagesDescendants)) {
            continue;
        }
        for (Object& child : reader.children(object)) {
            look.push_back(std::move(child));
        }
    }
    return timedOut(reader);
}

FocusedField AtspiReadBack::focusedField(const LaunchResult& target) {
    const Clock::time_point deadline = Clock::now() + kFieldLookLimit;
    FocusedField field;
    bool late = false;
    if (target.pid <= 0 || !connected(deadline, late)) {
        return field;
    }
    Reader reader(QDBusConnection(connection_), deadline);
    const std::optional<Object> program = startedProgram(reader, target.pid);
    if (!program) {
        return field;
    }
    const std::deque<Object> windows = windowsOf(reader, *program);
    // A window whose content is not there yet, or a page: what the keys are for is not shown
    // yet.
    bool unshown = false;
    std::vector<Object> pages;
    std::optional<FocusedField> focused; // a field outside pages
    std::deque<Object> look;
    for (const Object& window : windows) {
        // Chromium shows its windows' content, pages included, once an assistive technology
        // asks for an object's attributes, as screen readers do.
        reader.call(window, kAccessible, QStringLiteral("GetAttributes"));
        const std::vector<Object> content = reader.children(window);
        unshown = unshown || std::all_of(content.begin(), content.end(),
                                         [](const Object& o) { return o.path == kNoObject; });
        look.insert(look.end(), content.begin(), content.end());
    }
    for (int looked = 0; !look.empty() && looked < kObjectsLooked && !reader.late(); ++looked) {
        const Object object = std::move(look.front());
        look.pop_front();
        if (object.path == kNoObject) {
            continue;
        }
        const auto states = reader.states(object);
        const auto role = states ? reader.role(object) : std::nullopt;
        if (!states || !role || has(*states, Defunct) || leftAside(*states, *role)) {
            continue;
        }
        if (*role == DocumentWeb) {
            pages.push_back(object);
            continue;
        }
        if (!focused && has(*states, Focused) && has(*states, Editable)) {
            focused = fieldOf(reader, object, *states);
        }
        for (Object& child : reader.children(object)) {
            look.push_back(std::move(child));
        }
    }
    // Where a page shows, the keys are for its field: one elsewhere (a search box of the
    // browser's own) is not typed into.
    for (const Object& page : pages) {
        if (std::optional<FocusedField> inPage = focusedFieldIn(reader, page)) {
            return *inPage;
        }
    }
    if (!pages.empty() || unshown) {
        field.shown = FocusedField::Shown::Waiting;
    } else if (focused) {
        return *focused;
    } else if (!windows.empty() && !reader.late()) {
        field.shown = FocusedField::Shown::Other;
    }
    return field;
}

ShownCells AtspiReadBack::readCells(const LaunchResult& target, std::size_t rows,
                                    std::size_t columns, std::size_t limit) {
    const Clock::time_point deadline = Clock::now() + kReadBackLimit;
    ShownCells shown;
    const auto timedOut = [&](Reader& reader) {
        if (reader.late()) {
            shown.outcome = ShownText::Outcome::NotChecked;
        }
        return std::move(shown);
    };
    if (target.pid <= 0 || rows == 0 || columns == 0) {
        return shown;
    }
    bool late = false;
    if (!connected(deadline, late)) {
        shown.outcome = late ? ShownText::Outcome::NotChecked : shown.outcome;
        return shown;
    }
    Reader reader(QDBusConnection(connection_), deadline);
    const std::optional<Object> program = startedProgram(reader, target.pid);
    if (!program) {
        return timedOut(reader);
    }
    // The sheet: a table among the window's controls, its menus and tool bars left aside.
    std::optional<Object> sheet;
    std::deque<Object> look = windowsOf(reader, *program);
    for (int looked = 0; !look.empty() && !sheet && looked < kObjectsLooked; ++looked) {
        const Object object = std::move(look.front());
        look.pop_front();
        const auto role = reader.role(object);
        if (!role || *role == MenuBar || *role == ToolBar) {
            continue;
        }
        const auto states = reader.states(object);
        if (!states || has(*states, Defunct)) {
            continue;
        }
        if (has(*states, ManagesDescendants)) {
            if (*role == Table) {
                sheet = object;
            }
            continue;
        }
        for (Object& child : reader.children(object)) {
            look.push_back(std::move(child));
        }
    }
    if (!sheet) {
        return timedOut(reader);
    }
    const auto cell = [&](std::size_t row, std::size_t column) {
        return reader.object(*sheet, kTable, QStringLiteral("GetAccessibleAt"),
                             {static_cast<int>(row), static_cast<int>(column)});
    };
    // The typing ended with the cursor below the first cell typed: else it started elsewhere,
    // or the keys are still on their way.
    for (;;) {
        const auto below = cell(rows, 0);
        const auto states = below ? reader.states(*below) : std::nullopt;
        if (!states) {
            return timedOut(reader);
        }
        if (has(*states, Focused)) {
            break;
        }
        if (reader.late()) {
            shown.outcome = ShownText::Outcome::NotChecked;
            return shown;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    shown.cells.reserve(rows * columns);
    for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t column = 0; column < columns; ++column) {
            const auto object = cell(row, column);
            shown.cells.emplace_back();
            if (!object ||
                textOf(reader, *object, limit, shown.cells.back()) != ShownText::Outcome::Read) {
                for (std::u32string& text : shown.cells) {
                    wipe(text);
                }
                shown.cells.clear();
                shown.outcome = ShownText::Outcome::NotChecked;
                return shown;
            }
        }
    }
    shown.outcome = ShownText::Outcome::Read;
    return shown;
}

} // namespace tolvane::platform::atspi
