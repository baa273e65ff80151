#include "platform/atspi/AtspiTree.h"

#include "platform/Wipe.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/Processes.h"

#include <QDBusArgument>
#include <QDBusVariant>

#include <unistd.h>
#include <utility>

namespace tolvane::platform::atspi {

bool has(unsigned long long states, State state) {
    return (states >> state) & 1;
}

// Where an object is embedded in a text, AT-SPI shows this character: nothing typed (Chromium
// ends a text area's last line break with one).
constexpr char32_t kEmbeddedObject = 0xFFFC;

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

std::optional<Object> startedProgram(Reader& reader, pid_t started) {
    std::vector<std::pair<Object, pid_t>> programs;
    for (Object& application :
         reader.children({QStringLiteral("org.a11y.atspi.Registry"),
                          QStringLiteral("/org/a11y/atspi/accessible/root")})) {
        if (const auto pid = reader.processOf(application.bus)) {
            if (linux_desktop::descendsFrom(*pid, started)) {
                return application;
            }
            programs.emplace_back(std::move(application), *pid);
        }
    }
    if (!linux_desktop::childHasExited(started)) {
        return std::nullopt;
    }
    for (const auto& [application, pid] : programs) {
        if (pid == getpid()) {
            continue;
        }
        for (const Object& window : reader.children(application)) {
            const auto states = reader.states(window);
            if (states && has(*states, Active)) {
                return application;
            }
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

// The whole text of an object into `text`: Read, NotChecked when it holds more than `limit`
// characters, Late when it did not answer in time.
ShownText::Outcome textOf(Reader& reader, const Object& object, std::size_t limit,
                          std::u32string& text) {
    const auto count =
        reader.call(object, QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("Get"), {kText, QStringLiteral("CharacterCount")});
    if (!count) {
        return reader.unlessLate(ShownText::Outcome::NotChecked);
    }
    const int characters = count->arguments().at(0).value<QDBusVariant>().variant().toInt();
    if (characters < 0 || static_cast<std::size_t>(characters) > limit) {
        return ShownText::Outcome::NotChecked;
    }
    auto reply = reader.call(object, kText, QStringLiteral("GetText"), {0, -1});
    if (!reply) {
        return reader.unlessLate(ShownText::Outcome::NotChecked);
    }
    QVariantList arguments = reply->arguments();
    reply.reset();
    QString content = arguments.at(0).toString();
    arguments.clear();
    text = takeText(content);
    return ShownText::Outcome::Read;
}

bool leftAside(unsigned long long states, uint role) {
    return has(states, ManagesDescendants) || !has(states, Showing) || role == Menu ||
           role == MenuBar || role == PopupMenu || role == ToolBar || role == PageTabList ||
           role == StatusBar;
}

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

} // namespace tolvane::platform::atspi
