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

// The roles an accessible object reports that the search of a sheet uses.
enum Role : uint {
    MenuBar = 34,
    Table = 55,
    ToolBar = 63,
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
        std::vector<Object> out;
        const auto reply = call(object, kAccessible, QStringLiteral("GetChildren"));
        if (!reply) {
            return out;
        }
        const QDBusArgument list = reply->arguments().at(0).value<QDBusArgument>();
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

// The text of a QString, its buffer (shared with the reply it came in) overwritten.
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
        out += c;
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
