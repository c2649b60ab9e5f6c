#include "ProgramKey.h"

#include "AppDirectory.h"
#include "DesktopIndex.h"

#include <QDir>
#include <algorithm>

namespace corvalle {

namespace {

// A script path longer than this is no name a person gave a program.
constexpr qsizetype kMaxArgumentLength = 4096;
// Options are looked at only this far into the command line.
constexpr qsizetype kMaxScannedArguments = 32;

// How an interpreter family's command line names the application it runs.
struct InterpreterRules {
    QString family;
    QStringList valueOptions;        // followed by a value that is not the application
    QStringList inlineOptions;       // code on the command line instead of a file
    QStringList moduleOptions;       // followed by a module or class that is the application
    QStringList fileOptions;         // followed by the file that is the application
    bool positionalIsModule = false; // Java: the first bare argument is a class
};

const std::vector<InterpreterRules>& interpreterRules() {
    static const std::vector<InterpreterRules> rules = {
        {QStringLiteral("python"),
         {QStringLiteral("-W"), QStringLiteral("-X"), QStringLiteral("--check-hash-based-pycs")},
         {QStringLiteral("-c")},
         {QStringLiteral("-m")},
         {},
         false},
        {QStringLiteral("perl"),
         {QStringLiteral("-I"), QStringLiteral("-M"), QStringLiteral("-m")},
         {QStringLiteral("-e"), QStringLiteral("-E")},
         {},
         {},
         false},
        {QStringLiteral("ruby"),
         {QStringLiteral("-I"), QStringLiteral("-r"), QStringLiteral("-C")},
         {QStringLiteral("-e")},
         {},
         {},
         false},
        {QStringLiteral("sh"),
         {QStringLiteral("-o"), QStringLiteral("+o"), QStringLiteral("--rcfile"),
          QStringLiteral("--init-file")},
         {QStringLiteral("-c")},
         {},
         {},
         false},
        {QStringLiteral("node"),
         {QStringLiteral("-r"), QStringLiteral("--require"), QStringLiteral("--import"),
          QStringLiteral("--loader"), QStringLiteral("-C"), QStringLiteral("--conditions")},
         {QStringLiteral("-e"), QStringLiteral("--eval"), QStringLiteral("-p"),
          QStringLiteral("--print")},
         {},
         {},
         false},
        {QStringLiteral("java"),
         {QStringLiteral("-cp"), QStringLiteral("-classpath"), QStringLiteral("--class-path"),
          QStringLiteral("-p"), QStringLiteral("--module-path"), QStringLiteral("--add-modules"),
          QStringLiteral("--add-opens"), QStringLiteral("--add-exports")},
         {},
         {QStringLiteral("-m"), QStringLiteral("--module")},
         {QStringLiteral("-jar")},
         true},
        {QStringLiteral("gjs"),
         {QStringLiteral("-I"), QStringLiteral("--include-path")},
         {QStringLiteral("-c"), QStringLiteral("--command")},
         {QStringLiteral("-m"), QStringLiteral("--module")},
         {},
         false},
    };
    return rules;
}

QString baseName(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Control characters would make a key that cannot be shown or typed; such an
// argument names nothing a person could mean.
bool isUsable(const QString& argument) {
    return !argument.isEmpty() && argument.size() <= kMaxArgumentLength &&
           std::none_of(argument.begin(), argument.end(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

QString prefixed(const QString& text) {
    return QLatin1String(kProgramKeyPrefix) + text;
}

// A script by its absolute path; relative to the working folder when it is
// relative, or, without one, after its interpreter.
QString scriptKey(const QString& executable, const QString& script, const QString& workingDir) {
    if (script.startsWith(QLatin1Char('/'))) {
        return prefixed(QDir::cleanPath(script));
    }
    if (workingDir.startsWith(QLatin1Char('/'))) {
        return prefixed(QDir::cleanPath(workingDir + QLatin1Char('/') + script));
    }
    return prefixed(executable + QLatin1Char(' ') + script);
}

// Wine's command line is the Windows program it runs, under its own name or
// after a "wine" launcher word.
QString wineKey(const QString& executable, const QStringList& argv) {
    for (const QString& argument : argv.mid(0, kMaxScannedArguments)) {
        if (argument.startsWith(QLatin1Char('-'))) {
            continue;
        }
        if (DesktopIndex::interpreterFamily(baseName(argument)) == QLatin1String("wine")) {
            continue;
        }
        if (isUsable(argument)) {
            return prefixed(executable + QLatin1Char(' ') + argument);
        }
        break;
    }
    return prefixed(executable);
}

QString interpretedKey(const InterpreterRules& rules, const ProgramCommand& command) {
    const QString& executable = command.executable;
    const QStringList arguments = command.argv.mid(1, kMaxScannedArguments);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--")) {
            if (i + 1 < arguments.size() && isUsable(arguments[i + 1])) {
                return scriptKey(executable, arguments[i + 1], command.workingDir);
            }
            break;
        }
        if (rules.inlineOptions.contains(argument)) {
            return prefixed(executable + QLatin1Char(' ') + argument);
        }
        const bool names = rules.moduleOptions.contains(argument);
        const bool file = rules.fileOptions.contains(argument);
        if (names || file) {
            if (i + 1 < arguments.size() && isUsable(arguments[i + 1])) {
                const QString& value = arguments[i + 1];
                return file ? scriptKey(executable, value, command.workingDir)
                            : prefixed(executable + QLatin1Char(' ') + argument + QLatin1Char(' ') +
                                       value);
            }
            break;
        }
        if (rules.valueOptions.contains(argument)) {
            ++i;
            continue;
        }
        if (argument.startsWith(QLatin1Char('-')) || argument.startsWith(QLatin1Char('+'))) {
            continue;
        }
        if (!isUsable(argument)) {
            break;
        }
        if (rules.positionalIsModule) {
            return prefixed(executable + QLatin1Char(' ') + argument);
        }
        return scriptKey(executable, argument, command.workingDir);
    }
    return prefixed(executable);
}

} // namespace

bool runsScripts(const QString& executable) {
    return !DesktopIndex::interpreterFamily(baseName(executable)).isEmpty();
}

std::optional<QString> programKey(const ProgramCommand& command) {
    if (!command.executable.startsWith(QLatin1Char('/')) || !isUsable(command.executable)) {
        return std::nullopt;
    }
    const QString family = DesktopIndex::interpreterFamily(baseName(command.executable));
    if (family.isEmpty()) {
        return prefixed(command.executable);
    }
    if (family == QLatin1String("wine")) {
        return wineKey(command.executable, command.argv);
    }
    const auto& rules = interpreterRules();
    const auto found = std::ranges::find(rules, family, &InterpreterRules::family);
    // Other hosts (electron, mono) take the application as their first bare argument.
    static const InterpreterRules plainHost{};
    return interpretedKey(found == rules.end() ? plainHost : *found, command);
}

} // namespace corvalle
