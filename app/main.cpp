// Tolvane: the window, wired to the real platform.
#include "platform/KernelRandomSource.h"
#include "platform/atspi/AtspiReadBack.h"
#include "platform/linux/CanberraSound.h"
#include "platform/linux/CoreDumps.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/StopSignals.h"
#include "platform/qt/QtClipboard.h"
#include "platform/qt/QtFileDialog.h"
#include "platform/qt/QtMessageBox.h"
#include "platform/qt/QtWaitNotice.h"
#include "platform/session/KeystrokeBackend.h"
#include "ui/FormHost.h"
#include "ui/Style.h"

#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

#ifndef TOLVANE_DATA_DIR
#define TOLVANE_DATA_DIR ""
#endif
#ifndef TOLVANE_LIBEXEC_DIR
#define TOLVANE_LIBEXEC_DIR ""
#endif

int main(int argc, char** argv) {
    namespace desktop = tolvane::platform::linux_desktop;
    desktop::forbidCoreDumps();
    // SIGTERM, SIGINT, SIGHUP: typing stops and gives the keyboard back, then the program ends.
    desktop::installStopSignals();
    QApplication app(argc, argv);
    QSocketNotifier stopNotifier(desktop::stopSignalFd(), QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, [&] {
        char buffer[16];
        while (read(desktop::stopSignalFd(), buffer, sizeof buffer) > 0) {
        }
        QApplication::exit(0);
    });
    if (desktop::stopRequested()) {
        return 0;
    }
    QApplication::setApplicationName(QStringLiteral("tolvane"));
    QApplication::setDesktopFileName(QStringLiteral("org.tolvane.Tolvane"));
    tolvane::ui::setUpApplication();

    tolvane::platform::qt::QtMessageBox messageBox;
    tolvane::platform::qt::QtFileDialog fileDialog;
    tolvane::platform::qt::QtWaitNotice waitNotice;
    // Installed, or beside the executable's tree (build tree, relocated install).
    const std::vector<std::string> dataDirectories{
        TOLVANE_DATA_DIR,
        (QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tolvane"))
            .toStdString()};
    desktop::ProcessLauncher launcher(dataDirectories);
    namespace session = tolvane::platform::session;
    const auto server = session::detectDisplayServer();
    // The relay beside the executable's tree (build tree, relocated install), else installed.
    std::string relay =
        (QCoreApplication::applicationDirPath() + QStringLiteral("/../libexec/tolvane/"))
            .toStdString();
    if (access((relay + "tolvane-bus-relay").c_str(), X_OK) != 0) {
        relay = TOLVANE_LIBEXEC_DIR "/";
    }
    relay += "tolvane-bus-relay";
    // Read back once typed; where the keys go, for the typing.
    tolvane::platform::atspi::AtspiReadBack readBack;
    const auto injector =
        session::makeKeystrokeInjector(server, messageBox, waitNotice, relay, &readBack);
    const auto eraser = session::makeClipboardEraser(server);
    tolvane::platform::qt::QtClipboard clipboard(30000, eraser.get(), &messageBox,
                                                 desktop::stopRequested);
    desktop::CanberraSound sound(dataDirectories);
    tolvane::platform::KernelRandomSource random;

    tolvane::ui::FormHost host(
        {messageBox, fileDialog, launcher, *injector, clipboard, sound, random, &readBack},
        [] { QApplication::exit(0); });
    host.load();
    return app.exec();
}
