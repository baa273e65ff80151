#include "ui/GenerateAndDeliver.h"

#include "delivery/Deliver.h"
#include "delivery/Scripts.h"
#include "engine/Generator.h"
#include "platform/Wipe.h"

#include <QGuiApplication>
#include <QListWidget>

namespace tolvane::ui {

namespace {

class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

GenerationOutcome generateAndDeliver(engine::GenerationSettings settings,
                                     const std::string& program, QListWidget& results,
                                     const Services& services, bool* spreadsheetNoted) {
    GenerationOutcome outcome;
    engine::Batch batch;
    delivery::DeliveryRequest request;
    // The window keeps the lines in its result list; no other copy outlives this run.
    struct Wiper {
        engine::GenerationSettings& settings;
        engine::Batch& batch;
        delivery::DeliveryRequest& request;
        ~Wiper() {
            platform::wipe(settings.puk);
            for (auto* lines : {&batch.lines, &request.lines}) {
                for (std::u32string& line : *lines) {
                    platform::wipe(line);
                }
            }
        }
    } wiper{settings, batch, request};
    // Settings that draw nothing are refused before the desktop is asked anything.
    if (const auto refusal = engine::refusalOf(settings)) {
        outcome.notice = Notice{refusal->message, refusal->title};
        return outcome;
    }
    // What the desktop must know, or ask the user, is done before any password exists.
    services.injector.beforeSecrets();
    std::string unavailable;
    if (settings.destination != engine::Destination::Clipboard) {
        unavailable = services.injector.unavailableReason();
    }
    try {
        batch = engine::generateBatch(settings, services.random);
    } catch (const platform::RandomSourceError&) {
        outcome.notice = Notice{"Le générateur aléatoire du système ne répond pas : aucun mot "
                                "de passe n'a été généré."};
        return outcome;
    }
    if (batch.refusal) {
        outcome.notice = Notice{batch.refusal->message, batch.refusal->title};
        return outcome;
    }
    for (const auto& line : batch.lines) {
        results.addItem(QString::fromStdU32String(line));
    }
    outcome.drawn = true;
    // Kept in the list as every generation's lines are; nothing can reach a program now.
    if (!unavailable.empty()) {
        outcome.notice = Notice{unavailable};
        return outcome;
    }

    request.destination = settings.destination;
    request.programPath = program;
    request.spreadsheetNoted = spreadsheetNoted;
    for (int i = 0; i < results.count(); ++i) {
        request.lines.push_back(results.item(i)->text().toStdU32String());
    }
    if (settings.columnTitles) {
        request.titles = delivery::columnTitleLine(settings.irreversible);
    }
    request.countText = settings.countText;
    request.count = engine::readWholeNumber(settings.countText).value;
    std::optional<std::string> failure;
    {
        const BusyCursor busy;
        failure =
            delivery::Deliver(request, {services.launcher, services.injector, services.clipboard,
                                        services.messageBox, services.readBack});
    }
    if (failure) {
        outcome.notice = Notice{*failure};
    }
    return outcome;
}

} // namespace tolvane::ui
