#include "platform/atspi/AtspiReadBack.h"

#include "platform/atspi/AtspiTree.h"

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
    shown.outcome = reader.unlessLate(shown.outcome);
    return shown;
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
        shown.outcome = reader.unlessLate(shown.outcome);
        return shown;
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
        if (states && has(*states, Focused)) {
            break;
        }
        if (!states || reader.late()) {
            shown.outcome = reader.unlessLate(shown.outcome);
            return shown;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    shown.cells.reserve(rows * columns);
    for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t column = 0; column < columns; ++column) {
            const auto object = cell(row, column);
            shown.cells.emplace_back();
            const ShownText::Outcome read = object
                                                ? textOf(reader, *object, limit, shown.cells.back())
                                                : reader.unlessLate(ShownText::Outcome::NotChecked);
            if (read != ShownText::Outcome::Read) {
                for (std::u32string& text : shown.cells) {
                    wipe(text);
                }
                shown.cells.clear();
                shown.outcome = read;
                return shown;
            }
        }
    }
    shown.outcome = ShownText::Outcome::Read;
    return shown;
}

} // namespace tolvane::platform::atspi
