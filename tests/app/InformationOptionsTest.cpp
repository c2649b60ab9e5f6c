// --version and --help of the built program: they answer without a display
// (a package's checks, ssh, scripts) and the help names the commands.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// `locale` holds the locale variables to set ("LANG=C"); all others are removed.
ProgramRun runWithoutDisplay(const QStringList& arguments, const QStringList& locale = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    if (!locale.isEmpty()) {
        for (const QString& name : environment.keys()) {
            if (name == QLatin1String("LANG") || name.startsWith(QLatin1String("LC_"))) {
                environment.remove(name);
            }
        }
        for (const QString& variable : locale) {
            environment.insert(variable.section(QLatin1Char('='), 0, 0),
                               variable.section(QLatin1Char('='), 1));
        }
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CORVALLE_BINARY), arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// What standard output and error hold, or with `exact` all they hold.
TEST(InformationOptions, AnswerWithoutADisplay) {
    const struct {
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;
        bool exact = false;
    } cases[] = {
        {{"--version"}, 0, "Corvalle " CORVALLE_VERSION "\n", {}, true},
        {{"--help"}, 0, "--login-item", {}},
        {{"-h"}, 0, "toggle-mute", {}},
        {{"--verbose", "--help"}, 0, "man corvalle", {}},
        {{"help"}, 0, "Exit status", {}}, // the command line keeps its own help
        {{"--version", "--no-such-option"}, 2, {}, "no-such-option"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const ProgramRun run = runWithoutDisplay(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_TRUE(c.exact ? run.out == c.out : run.out.contains(c.out)) << run.out.toStdString();
        EXPECT_TRUE(c.exact ? run.err == c.err : run.err.contains(c.err)) << run.err.toStdString();
    }
}

// Whatever the locale, nothing but the answer is printed (Qt 6.8 warns of a
// character encoding that is not UTF-8), and text that is not ASCII comes back
// as it went in.
TEST(InformationOptions, PrintNoLocaleWarning) {
    const QStringList locales[] = {
        {"LANG=C"},
        {"LC_ALL=C", "LANG=C.UTF-8"}, // LC_ALL wins
        {"LC_CTYPE=C", "LANG=C.UTF-8"},
        {"LANG=xx_XX.UTF-8"}, // not installed anywhere
        {"LANG=de_DE"},       // Latin-1, where it is installed
    };
    const QString option = QStringLiteral("lautst\u00e4rke-\u2192");
    for (const QStringList& locale : locales) {
        SCOPED_TRACE(locale.join(QLatin1Char(' ')).toStdString());
        const ProgramRun version = runWithoutDisplay({"--version"}, locale);
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, "Corvalle " CORVALLE_VERSION "\n");
        EXPECT_EQ(version.err, QString()) << version.err.toStdString();

        const ProgramRun wrong = runWithoutDisplay({"--version", "--" + option}, locale);
        EXPECT_EQ(wrong.exitCode, 2);
        EXPECT_TRUE(wrong.err.contains("'" + option + "'")) << wrong.err.toStdString();
        EXPECT_FALSE(wrong.err.contains(QLatin1String("locale"))) << wrong.err.toStdString();
    }
}

} // namespace
