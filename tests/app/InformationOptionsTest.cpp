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

struct Case {
    QStringList arguments;
    int exitCode;
    QString inOut; // a text standard output holds
    QString inErr; // a text standard error holds
};

TEST(InformationOptions, AnswerWithoutADisplay) {
    const Case cases[] = {
        {{QStringLiteral("--version")}, 0, QStringLiteral("Corvalle " CORVALLE_VERSION), {}},
        {{QStringLiteral("--help")}, 0, QStringLiteral("--login-item"), {}},
        {{QStringLiteral("-h")}, 0, QStringLiteral("toggle-mute"), {}},
        {{QStringLiteral("--verbose"), QStringLiteral("--help")},
         0,
         QStringLiteral("man corvalle"),
         {}},
        // The command line keeps its own help.
        {{QStringLiteral("help")}, 0, QStringLiteral("Exit status"), {}},
        {{QStringLiteral("--version"), QStringLiteral("--no-such-option")},
         2,
         {},
         QStringLiteral("no-such-option")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const ProgramRun run = runWithoutDisplay(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(c.inOut)) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(c.inErr)) << run.err.toStdString();
    }
}

TEST(InformationOptions, VersionIsOneLine) {
    const ProgramRun run = runWithoutDisplay({QStringLiteral("--version")});
    EXPECT_EQ(run.out, QStringLiteral("Corvalle " CORVALLE_VERSION "\n"));
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
}

} // namespace
