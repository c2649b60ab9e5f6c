#include "AppDelegate.h"
#include "Backend.h"
#include "LaunchOptions.h"
#include "Log.h"
#include "MainWindow.h"
#include "Shortcuts.h"
#include "SingleInstance.h"
#include "Symbols.h"
#include "Translations.h"
#include "TrayWatcher.h"
#include "UnixSignals.h"
#include "Utf8Locale.h"
#include "X11Desktop.h"

#include <QApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QIcon>
#include <QProcessEnvironment>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#ifdef CORVALLE_HAVE_CONTROL
#include "CommandLine.h"
#include "MixerService.h"
#endif

namespace {

using namespace corvalle;

void print(FILE* stream, const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    QTextStream out(stream);
    out << text;
    if (!text.endsWith(QLatin1Char('\n'))) {
        out << '\n';
    }
}

// --screenshot: once the window is on screen, save it and report the times.
void arrangeScreenshot(AppDelegate& delegate, const QString& path, const QElapsedTimer& sinceStart,
                       qint64 modelReadyMs) {
    QObject::connect(
        &delegate, &AppDelegate::windowShown, &delegate,
        [&delegate, path, &sinceStart, modelReadyMs] {
            const qint64 shownMs = sinceStart.elapsed();
            // One more turn of the event loop so that the window has laid out and painted.
            QTimer::singleShot(100, &delegate, [&delegate, path, shownMs, modelReadyMs] {
                if (!delegate.window()) {
                    return;
                }
                const bool saved = delegate.window()->grab().save(path);
                print(stdout, QStringLiteral("model running after %1 ms; window shown after %2 ms")
                                  .arg(modelReadyMs)
                                  .arg(shownMs));
                print(saved ? stdout : stderr,
                      saved ? QStringLiteral("screenshot: %1").arg(path)
                            : QStringLiteral("could not write the screenshot %1").arg(path));
            });
        });
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    chooseUtf8CharacterEncoding();

    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }

#ifdef CORVALLE_HAVE_CONTROL
    if (isCommandLineInvocation(arguments)) {
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("corvalle"));
        return runCommandLine(arguments);
    }
#endif

    // --version and --help answer without a display, so that they also work over
    // ssh, in a package's checks and in scripts.
    if (asksForInformationOnly(arguments)) {
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("corvalle"));
        QCoreApplication::setApplicationVersion(QStringLiteral(CORVALLE_VERSION));
        installTranslations(application, QLocale::system());
        const LaunchParse parsed = parseLaunchOptions(arguments);
        print(parsed.exitCode == 0 ? stdout : stderr, parsed.message);
        return parsed.exitCode;
    }

    // Qt's xcb plugin takes DESKTOP_STARTUP_ID out of the environment as it
    // starts; a second launch hands it on to the running instance.
    const ActivationRequest launchActivation =
        ActivationRequest::fromEnvironment(QProcessEnvironment::systemEnvironment());
    // Qt 6.4 takes the Wayland plugin only where XDG_SESSION_TYPE says so; a
    // compositor's own session does not always set it. X11 stays the fallback.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    }

    QApplication application(argc, argv);
    // The interface follows the user's language; the command line above stays
    // in English, as scripts read it.
    installTranslations(application, QLocale::system());
    QApplication::setApplicationName(QStringLiteral("Corvalle"));
    QApplication::setApplicationDisplayName(QStringLiteral("Corvalle"));
    QApplication::setApplicationVersion(QStringLiteral(CORVALLE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.corvalle.Corvalle"));
    QApplication::setWindowIcon(ui::programIcon());
    // The tray icon keeps the program reachable; closing the window is not quitting.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's own options (-platform, -style) are gone from arguments() by now.
    const LaunchParse parsed = parseLaunchOptions(QApplication::arguments().mid(1));
    if (!parsed.options) {
        print(parsed.exitCode == 0 ? stdout : stderr, parsed.message);
        return parsed.exitCode;
    }
    const LaunchOptions options = *parsed.options;
    if (options.verbose) {
        enableVerboseLogging();
    }
    installAudioSink();

    // A second launch shows the running instance's window and ends.
    SingleInstance instance;
    if (!instance.claim()) {
        if (SingleInstance::askRunningInstanceToShow(QDBusConnection::sessionBus(),
                                                     launchActivation)) {
            return 0;
        }
        print(stderr, QObject::tr("Corvalle is already running but does not answer."));
        return 1;
    }

    std::unique_ptr<Backend> backend;
    qCInfo(lcApp) << (options.simulate ? "on the simulated audio system" : "on PipeWire");
    if (options.simulate) {
        backend = makeSimulatedBackend(options.demoApps);
    } else {
        backend = makePipeWireBackend();
        if (!backend) {
            print(stderr, QObject::tr("This build has no PipeWire support; try --simulate."));
            return 1;
        }
        if (!backend->connected) {
            print(stderr, QObject::tr("No PipeWire server answered yet; Corvalle keeps trying."));
        }
    }

    // Asking Qt (QSystemTrayIcon::isSystemTrayAvailable) would fix its choice of
    // tray protocol for good, before a panel that starts later is there.
    TrayWatcher trayWatcher;
    AppDelegate::Options shellOptions;
    shellOptions.withTray = trayWatcher.isAvailable();
    AppDelegate delegate(*backend, shellOptions);
    QObject::connect(&trayWatcher, &TrayWatcher::availabilityChanged, &delegate,
                     &AppDelegate::setTrayAvailable);
    QObject::connect(
        &instance, &SingleInstance::showRequested, &delegate,
        [&delegate](const ActivationRequest& request) { delegate.showWindow(request); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);

    UnixSignals signalHandler;
    QObject::connect(&signalHandler, &UnixSignals::quitRequested, &delegate, &AppDelegate::quit);

    delegate.applicationDidFinishLaunching(options.loginItem);
    const qint64 modelReadyMs = sinceStart.elapsed();

    Shortcuts shortcuts(delegate.model(), QDBusConnection::sessionBus(), &x11::focusedWindowPID);
    QObject::connect(&shortcuts, &Shortcuts::noticed, &delegate, &AppDelegate::showNotice);

#ifdef CORVALLE_HAVE_CONTROL
    MixerService service(delegate.model(), [&delegate] { delegate.showWindow(); });
    service.registerOn(QDBusConnection::sessionBus());
#endif

    if (!options.screenshotPath.isEmpty()) {
        arrangeScreenshot(delegate, options.screenshotPath, sinceStart, modelReadyMs);
    }

    return QApplication::exec();
}
