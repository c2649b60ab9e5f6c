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

ProgramRun runWithoutDisplay(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
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

} // namespace
