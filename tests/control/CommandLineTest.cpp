#include "CommandLine.h"

#include "ControlFixture.h"
#include "DBusNames.h"

#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

namespace corvalle::test {
namespace {

using namespace std::chrono_literals;

class CommandLineTest : public ControlTest {
protected:
    double volumeOf(const QString& key) const { return world_.model->setting(key).volume; }
};

TEST_F(CommandLineTest, ListShowsEveryApplicationForPeopleAndPrograms) {
    ASSERT_EQ(run({"list"}), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_.toStdString(), "KEY                  NAME        LEVEL  MUTED  PLAYING\n"
                                  "org.mozilla.firefox  Firefox      100%  no     yes\n"
                                  "org.example.Music    Music        100%  no     yes\n"
                                  "org.example.Old      Old Player    50%  no     not running\n"
                                  "pid:999              pid:999       25%  yes    not running\n");

    ASSERT_EQ(run({"list", "--json"}), kExitDone);
    const auto applications = outJson().value("applications").toArray();
    ASSERT_EQ(applications.size(), 4);
    const auto old = applications.at(2).toObject();
    EXPECT_EQ(old.value("key").toString(), "org.example.Old");
    EXPECT_EQ(old.value("volume").toDouble(), 0.5);
    EXPECT_EQ(old.value("percent").toDouble(), 50.0);
    EXPECT_FALSE(old.value("running").toBool());
    EXPECT_TRUE(old.value("listed").toBool());
    EXPECT_TRUE(outJson().value("lastError").isNull());
}

TEST_F(CommandLineTest, SetChangesTheLevelHeardAndTheStoredSetting) {
    ASSERT_EQ(run({"set", "firefox", "150%"}), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_, "Firefox (org.mozilla.firefox): 150%\n");
    EXPECT_EQ(err_, "");
    EXPECT_NEAR(levelOf("Firefox"), 1.5F, 1e-5);
    EXPECT_EQ(stored().value("org.mozilla.firefox").toObject().value("volume").toDouble(), 1.5);

    ASSERT_EQ(run({"--json", "set", "org.example.Music", "0.25x"}), kExitDone);
    EXPECT_EQ(outJson().value("volume").toDouble(), 0.25);
    EXPECT_FALSE(outJson().value("clamped").toBool());
    EXPECT_NEAR(levelOf("Music"), 0.25F, 1e-6);
}

struct VerbCase {
    QStringList arguments;
    double volume;
    bool muted;
    const char* line;
};

class CommandLineVerbs : public CommandLineTest, public ::testing::WithParamInterface<VerbCase> {};

// Firefox starts at 120 %, not muted.
TEST_P(CommandLineVerbs, ChangeFirefoxAsWritten) {
    const auto& [arguments, volume, muted, line] = GetParam();
    world_.model->setVolume(1.2, "org.mozilla.firefox");
    ASSERT_EQ(run(arguments), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_.toStdString(), std::string("Firefox (org.mozilla.firefox): ") + line + "\n");
    const auto setting = world_.model->setting("org.mozilla.firefox");
    EXPECT_NEAR(setting.volume, volume, 1e-12);
    EXPECT_EQ(setting.muted, muted);
    EXPECT_NEAR(levelOf("Firefox"), muted ? 0.0F : static_cast<float>(volume), 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Verbs, CommandLineVerbs,
    ::testing::Values(VerbCase{{"up", "firefox"}, 1.25, false, "125%"},
                      VerbCase{{"up", "fire", "30%"}, 1.5, false, "150%"},
                      VerbCase{{"down", "Firefox"}, 1.15, false, "115%"},
                      VerbCase{{"down", "firefox", "0.2x"}, 1.0, false, "100%"},
                      VerbCase{{"set", "firefox", "+10%"}, 1.3, false, "130%"},
                      VerbCase{{"set", "firefox", "-20"}, 1.0, false, "100%"},
                      VerbCase{{"mute", "firefox"}, 1.2, true, "120%, muted"},
                      VerbCase{{"toggle-mute", "firefox"}, 1.2, true, "120%, muted"},
                      VerbCase{{"unmute", "firefox"}, 1.2, false, "120%"},
                      VerbCase{{"reset", "firefox"}, 1.0, false, "100%"},
                      VerbCase{{"get", "firefox"}, 1.2, false, "120%"}));

TEST_F(CommandLineTest, VolumesOutsideTheRangeAreClampedAndSaidSo) {
    ASSERT_EQ(run({"set", "firefox", "500%"}), kExitDone);
    EXPECT_EQ(out_, "Firefox (org.mozilla.firefox): 400%\n");
    EXPECT_EQ(err_, "corvalle: 500% is outside 0% to 400%; set to 400%.\n");
    EXPECT_EQ(volumeOf("org.mozilla.firefox"), 4.0);
    EXPECT_NEAR(levelOf("Firefox"), 4.0F, 1e-5);

    ASSERT_EQ(run({"--json", "up", "firefox"}), kExitDone);
    EXPECT_TRUE(outJson().value("clamped").toBool());
    EXPECT_EQ(outJson().value("volume").toDouble(), 4.0);

    ASSERT_EQ(run({"set", "music", "-150%"}), kExitDone);
    EXPECT_TRUE(err_.contains("set to 0%")) << err_.toStdString();
    EXPECT_EQ(volumeOf("org.example.Music"), 0.0);
}

TEST_F(CommandLineTest, BadVolumeTextChangesNothing) {
    for (const auto& text : {"abc", "nan", "inf", "1e3", "", "+-5%", "150%%", "-inf"}) {
        EXPECT_EQ(run({"set", "firefox", text}), kExitUsage) << text;
        EXPECT_TRUE(err_.contains("is not a volume")) << err_.toStdString();
        EXPECT_EQ(out_, "");
    }
    for (const auto& amount : {"-5%", "lots"}) {
        EXPECT_EQ(run({"up", "firefox", amount}), kExitUsage) << amount;
    }
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);
}

TEST_F(CommandLineTest, AmbiguousNamesListTheCandidatesAndChangeNothing) {
    world_.addApp(300, QStringLiteral("org.example.MusicBox"), QStringLiteral("Music Box"), true);
    world_.refresh();
    EXPECT_EQ(run({"mute", "mus"}), kExitAmbiguous);
    EXPECT_EQ(err_.toStdString(),
              "corvalle: mus matches more than one application; give more of its name, or its "
              "key:\n"
              "  org.example.Music  Music\n"
              "  org.example.MusicBox  Music Box\n");
    EXPECT_EQ(out_, "");

    ASSERT_EQ(run({"--json", "mute", "org.example.mus"}), kExitAmbiguous);
    const auto candidates = outJson().value("candidates").toArray();
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_EQ(candidates.at(1).toObject().value("key").toString(), "org.example.MusicBox");
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);

    ASSERT_EQ(run({"mute", "music"}), kExitDone) << "a whole name is not ambiguous";
    EXPECT_TRUE(world_.model->setting("org.example.Music").muted);
    EXPECT_FALSE(world_.model->setting("org.example.MusicBox").muted);
}

TEST_F(CommandLineTest, UnknownNamesListEveryApplication) {
    EXPECT_EQ(run({"set", "chrome", "50%"}), kExitNoMatch);
    EXPECT_TRUE(err_.startsWith("corvalle: no application matches chrome; the applications are:\n"))
        << err_.toStdString();
    for (const auto& key :
         {"org.mozilla.firefox", "org.example.Music", "org.example.Old", "pid:999"}) {
        EXPECT_TRUE(err_.contains(key)) << key;
    }
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);
}

TEST_F(CommandLineTest, UsageMistakesExitWithTwoBeforeAskingTheBus) {
    for (const auto& arguments : std::vector<QStringList>{{},
                                                          {"--json"},
                                                          {"fly"},
                                                          {"set", "firefox"},
                                                          {"set", "firefox", "50%", "now"},
                                                          {"list", "all"},
                                                          {"mute"},
                                                          {"output", "a", "b"},
                                                          {"--loud", "list"},
                                                          {"up"}}) {
        EXPECT_EQ(run(arguments), kExitUsage) << arguments.join(' ').toStdString();
    }
    EXPECT_EQ(run({"--loud", "--json", "list"}), kExitUsage);
    EXPECT_EQ(outJson().value("error").toString(), "unknown option --loud");
    EXPECT_EQ(run({"help"}), kExitDone);
    EXPECT_TRUE(out_.startsWith("Usage: corvalle"));
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);
}

TEST_F(CommandLineTest, OutputListsAndSelectsDevices) {
    ASSERT_EQ(run({"output"}), kExitDone);
    EXPECT_EQ(out_, QStringLiteral("   ID  NAME\n*  %1  Speakers\n   %2  Headphones\n")
                        .arg(world_.speakers, 2)
                        .arg(headphones_, 2));

    ASSERT_EQ(run({"output", "phones"}), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_, "Output: Headphones\n");
    EXPECT_EQ(world_.model->outputID(), headphones_);

    ASSERT_EQ(run({"--json", "output", QString::number(world_.speakers)}), kExitDone);
    EXPECT_EQ(outJson().value("name").toString(), "Speakers");

    EXPECT_EQ(run({"output", "hdmi"}), kExitNoMatch);
    EXPECT_TRUE(err_.contains("Headphones"));
}

TEST_F(CommandLineTest, OutputReportsARefusedChange) {
    world_.hardware.setAcceptsDefaultOutputChange(false);
    EXPECT_EQ(run({"output", "headphones"}), kExitFailed);
    EXPECT_EQ(err_, "corvalle: the audio system kept Speakers as the output\n");
}

TEST_F(CommandLineTest, ShowOpensTheWindow) {
    ASSERT_EQ(run({"show"}), kExitDone);
    EXPECT_EQ(windowShown_, 1);
    EXPECT_EQ(out_, "");
}

TEST_F(CommandLineTest, WithoutAnInstanceItSaysSoAndStartsNone) {
    serviceBus_.unregisterService(QString::fromLatin1(dbus::kServiceName));
    for (const auto& arguments :
         std::vector<QStringList>{{"list"}, {"set", "firefox", "50%"}, {"show"}, {"output"}}) {
        EXPECT_EQ(run(arguments), kExitFailed);
        EXPECT_EQ(err_, "Corvalle is not running.\n");
        EXPECT_EQ(out_, "");
    }
    EXPECT_EQ(run({"--json", "list"}), kExitFailed);
    EXPECT_EQ(outJson().value("error").toString(), "Corvalle is not running.");
    EXPECT_FALSE(
        clientBus_.interface()->isServiceRegistered(QString::fromLatin1(dbus::kServiceName)));
    EXPECT_EQ(windowShown_, 0);
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);
}

TEST_F(CommandLineTest, AnInstanceThatOwnsTheNameButServesNoMixerYetIsStarting) {
    service_.reset();
    EXPECT_EQ(run({"list"}), kExitFailed);
    EXPECT_EQ(err_, "corvalle: Corvalle is still starting; try again.\n");
}

// Runs the command line as its own process against the private bus while this
// process keeps serving.
struct ProcessResult {
    int exitCode = -1;
    QString out;
    QString err;
};

ProcessResult runProcess(const QStringList& arguments, const QString& busAddress) {
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    process.setProcessEnvironment(environment);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20s, &loop, &QEventLoop::quit);
    process.start(QStringLiteral(CORVALLE_CONTROL_CLI_HOST), arguments);
    if (process.waitForStarted()) {
        loop.exec();
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST_F(CommandLineTest, AProcessOfItsOwnDrivesTheInstance) {
    const auto address = QString::fromStdString(bus_.address());
    const auto set = runProcess({"set", "music", "75%"}, address);
    ASSERT_EQ(set.exitCode, kExitDone) << set.err.toStdString();
    EXPECT_EQ(set.out, "Music (org.example.Music): 75%\n");
    EXPECT_NEAR(levelOf("Music"), 0.75F, 1e-6);
    EXPECT_EQ(stored().value("org.example.Music").toObject().value("volume").toDouble(), 0.75);

    const auto list = runProcess({"list", "--json"}, address);
    ASSERT_EQ(list.exitCode, kExitDone) << list.err.toStdString();
    const auto applications =
        QJsonDocument::fromJson(list.out.toUtf8()).object().value("applications").toArray();
    EXPECT_EQ(applications.size(), 4);

    serviceBus_.unregisterService(QString::fromLatin1(dbus::kServiceName));
    const auto absent = runProcess({"list"}, address);
    EXPECT_EQ(absent.exitCode, kExitFailed);
    EXPECT_EQ(absent.err, "Corvalle is not running.\n");
}

TEST_F(CommandLineTest, AProcessWithoutASessionBusSaysCorvalleIsNotRunning) {
    const auto result = runProcess({"list"}, QStringLiteral("unix:path=/nonexistent/bus"));
    EXPECT_EQ(result.exitCode, kExitFailed);
    EXPECT_TRUE(result.err.startsWith("Corvalle is not running.")) << result.err.toStdString();
}

TEST(CommandLineVerbsSet, KnowsItsVerbsAndInvocations) {
    for (const auto& verb : {"list", "get", "set", "up", "down", "mute", "unmute", "toggle-mute",
                             "reset", "output", "show", "help"}) {
        EXPECT_TRUE(isCommandLineVerb(QString::fromLatin1(verb))) << verb;
    }
    for (const auto& word : {"", "--json", "List", "--simulate", "--login-item", "volume"}) {
        EXPECT_FALSE(isCommandLineVerb(QString::fromLatin1(word))) << word;
    }
    EXPECT_TRUE(isCommandLineInvocation({"--json", "list"}));
    EXPECT_TRUE(isCommandLineInvocation({"set", "firefox", "50%"}));
    EXPECT_FALSE(isCommandLineInvocation({}));
    EXPECT_FALSE(isCommandLineInvocation({"--login-item"}));
    EXPECT_FALSE(isCommandLineInvocation({"--simulate"}));
}

} // namespace
} // namespace corvalle::test
