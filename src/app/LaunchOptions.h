#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvalle {

// How this launch was asked to run.
struct LaunchOptions {
    // Started by the desktop's autostart entry: no window opens by itself.
    bool loginItem = false;
    // Run on the simulated audio system with demo applications; nothing of the
    // user's settings or login items is touched.
    bool simulate = false;
    int demoApps = 6;
    // Writes a PNG of the window once it is first shown and reports the start-up
    // times on standard output.
    QString screenshotPath;
    // Turns on every log category (QT_LOGGING_RULES can pick single ones).
    bool verbose = false;
};

struct LaunchParse {
    std::optional<LaunchOptions> options; // absent: exit with `exitCode`
    int exitCode = 0;
    QString message; // for standard output (help, version) or standard error
};

// Whether the arguments only ask for --version or --help, which need no display.
bool asksForInformationOnly(const QStringList& arguments);

// Reads the GUI's options from the arguments after the program name.
LaunchParse parseLaunchOptions(const QStringList& arguments);

} // namespace corvalle
