#pragma once

// The accessibility bus (AT-SPI) as the read-back walks it: programs, windows, their objects and
// what those answer, every call bounded by one deadline.
#include "platform/TextReadBack.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QString>

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvane::platform::atspi {

using Clock = std::chrono::steady_clock;

inline const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
inline const QString kText = QStringLiteral("org.a11y.atspi.Text");
inline const QString kTable = QStringLiteral("org.a11y.atspi.Table");
inline const QString kCollection = QStringLiteral("org.a11y.atspi.Collection");
// What a reference to no object names.
inline const QString kNoObject = QStringLiteral("/org/a11y/atspi/null");

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
    // What a reading cut short comes to: Late when the time ran out (the program shows its
    // window but not its text in time), else the outcome given.
    ShownText::Outcome unlessLate(ShownText::Outcome outcome) const {
        return late() ? ShownText::Outcome::Late : outcome;
    }

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

bool has(unsigned long long states, State state);

// The text of a QString, its buffer (shared with the reply it came in) overwritten; embedded
// objects left out.
std::u32string takeText(QString& text);

// The started program, among those on the bus: the one whose connection belongs to the
// started process or one it started. A process that handed its document to an instance
// already running and ended (LibreOffice, Firefox, single-window editors) has none: the
// instance's window, which the keys were given to, is then the active one, and the program
// whose window is active (never this one) is that instance.
std::optional<Object> startedProgram(Reader& reader, pid_t started);

// Its active window first; all its windows shown when none tells it is active.
std::deque<Object> windowsOf(Reader& reader, const Object& program);

// The whole text of an object into `text`: Read, or NotChecked when it holds more than `limit`
// characters or did not answer in time.
ShownText::Outcome textOf(Reader& reader, const Object& object, std::size_t limit,
                          std::u32string& text);

// Where a search for the focused field does not go: what manages its descendants (a sheet's
// cells), what is not shown, menus, tool bars (a browser's address bar), tab lists, status bars.
bool leftAside(unsigned long long states, uint role);

// The field that has the focus: which it is, whether it holds several lines and then how many
// characters.
FocusedField fieldOf(Reader& reader, const Object& object, unsigned long long states);

// The field that has the focus in a page. A page's program searches it itself (its Collection);
// one that cannot is looked through, object by object.
std::optional<FocusedField> focusedFieldIn(Reader& reader, const Object& page);

} // namespace tolvane::platform::atspi
