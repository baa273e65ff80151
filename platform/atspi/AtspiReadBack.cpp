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
#include <utility>

namespace tolvane::platform::atspi {

namespace {

using Clock = std::chrono::steady_clock;

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kText = QStringLiteral("org.a11y.atspi.Text");

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

} // namespace

AtspiReadBack::~AtspiReadBack() {
    if (!connection_.isEmpty()) {
        QDBusConnection::disconnectFromBus(connection_);
    }
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
    if (connection_.isEmpty() || !QDBusConnection(connection_).isConnected()) {
        Reader session(QDBusConnection::sessionBus(), deadline);
        const auto address =
            session.call({QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus")},
                         QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
        if (!address) {
            return timedOut(session);
        }
        if (!connection_.isEmpty()) {
            QDBusConnection::disconnectFromBus(connection_);
        }
        connection_ = QStringLiteral("tolvane-read-back");
        if (!QDBusConnection::connectToBus(address->arguments().at(0).toString(), connection_)
                 .isConnected()) {
            return shown;
        }
    }
    Reader reader(QDBusConnection(connection_), deadline);

    // The started program, among those on the bus.
    std::optional<Object> program;
    for (const Object& application :
         reader.children({QStringLiteral("org.a11y.atspi.Registry"),
                          QStringLiteral("/org/a11y/atspi/accessible/root")})) {
        const auto pid = reader.processOf(application.bus);
        if (pid && linux_desktop::descendsFrom(*pid, target.pid)) {
            program = application;
            break;
        }
    }
    if (!program) {
        return timedOut(reader);
    }
    // Its active window first; all its windows when none tells it is active.
    std::deque<Object> look;
    for (const Object& window : reader.children(*program)) {
        const auto states = reader.states(window);
        if (states && has(*states, Active)) {
            look.push_front(window);
        } else if (states && has(*states, Showing)) {
            look.push_back(window);
        }
    }
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
            const auto count =
                reader.call(object, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("Get"), {kText, QStringLiteral("CharacterCount")});
            if (!count) {
                return timedOut(reader);
            }
            const int characters = count->arguments().at(0).value<QDBusVariant>().variant().toInt();
            if (characters < 0 || static_cast<std::size_t>(characters) > limit) {
                shown.outcome = ShownText::Outcome::NotChecked;
                return shown;
            }
            auto text = reader.call(object, kText, QStringLiteral("GetText"), {0, -1});
            if (!text) {
                return timedOut(reader);
            }
            QVariantList arguments = text->arguments();
            text.reset();
            QString content = arguments.at(0).toString();
            arguments.clear();
            shown.text = takeText(content);
            shown.outcome = ShownText::Outcome::Read;
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

} // namespace tolvane::platform::atspi
