#include "LaunchOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace corvalle {

namespace {

constexpr int kMaxDemoApps = 64;

} // namespace

bool asksForInformationOnly(const QStringList& arguments) {
    for (const auto& argument : arguments) {
        if (argument == QLatin1String("--")) {
            return false;
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("--help") ||
            argument == QLatin1String("-h")) {
            return true;
        }
    }
    return false;
}

LaunchParse parseLaunchOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "corvalle::LaunchOptions",
        "Per-application volume mixer.\n\n"
        "With a command, controls the running Corvalle instead: list, get, set, up,\n"
        "down, mute, unmute, toggle-mute, reset, output, route, limiter, duck,\n"
        "duck-level, shortcuts, show.\n"
        "\"corvalle help\" explains each command; \"man corvalle\" explains all of it."));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")},
        QCoreApplication::translate("corvalle::LaunchOptions", "Show this help."));
    const QCommandLineOption version(
        QStringLiteral("version"),
        QCoreApplication::translate("corvalle::LaunchOptions", "Show the version."));
    const QCommandLineOption loginItem(
        QStringLiteral("login-item"),
        QCoreApplication::translate("corvalle::LaunchOptions",
                                    "Start as a login item: open no window."));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QCoreApplication::translate("corvalle::LaunchOptions",
                                    "Run on a simulated audio system with demo applications."));
    const QCommandLineOption demoApps(
        QStringLiteral("demo-apps"),
        QCoreApplication::translate("corvalle::LaunchOptions",
                                    "Number of demo applications (with --simulate)."),
        QStringLiteral("count"), QStringLiteral("6"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QCoreApplication::translate(
            "corvalle::LaunchOptions",
            "Save a PNG of the window once it is shown and print the start-up times."),
        QStringLiteral("file"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QCoreApplication::translate("corvalle::LaunchOptions",
                                    "Log what Corvalle does on standard error."));
    parser.addOptions({help, version, loginItem, simulate, demoApps, screenshot, verbose});

    LaunchParse result;
    if (!parser.parse(QStringList{QStringLiteral("corvalle")} + arguments)) {
        result.exitCode = 2;
        result.message = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.message = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.message = QStringLiteral("Corvalle %1").arg(QCoreApplication::applicationVersion());
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.exitCode = 2;
        result.message =
            QCoreApplication::translate("corvalle::LaunchOptions", "Unexpected argument: %1")
                .arg(parser.positionalArguments().constFirst());
        return result;
    }

    LaunchOptions options;
    options.loginItem = parser.isSet(loginItem);
    options.simulate = parser.isSet(simulate);
    bool ok = false;
    options.demoApps = parser.value(demoApps).toInt(&ok);
    if (!ok || options.demoApps < 0 || options.demoApps > kMaxDemoApps) {
        result.exitCode = 2;
        result.message = QCoreApplication::translate("corvalle::LaunchOptions",
                                                     "--demo-apps takes a number from 0 to %1")
                             .arg(kMaxDemoApps);
        return result;
    }
    options.screenshotPath = parser.value(screenshot);
    options.verbose = parser.isSet(verbose);
    result.options = options;
    return result;
}

} // namespace corvalle
