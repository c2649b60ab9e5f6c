#include "CommandLine.h"

#include "ControlFixture.h"
#include "DBusNames.h"

#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QJsonArray>

namespace corvalle::test {
namespace {

using namespace Qt::StringLiterals;

class CommandLineTest : public ControlTest {};

// Stands in front of the mixer on the bus, noting the methods called; as an
// instance from before FindApplications, it refuses that method as unknown.
class MixerInFront final : public QDBusVirtualObject {
public:
    MixerInFront(QDBusConnection bus, bool knowsFind)
        : bus_(std::move(bus)), knowsFind_(knowsFind) {
        mixer_ = dynamic_cast<QDBusVirtualObject*>(bus_.objectRegisteredAt(path()));
        bus_.unregisterObject(path());
        registered_ = mixer_ != nullptr && bus_.registerVirtualObject(path(), this);
    }
    ~MixerInFront() override {
        bus_.unregisterObject(path());
        if (mixer_ != nullptr) {
            bus_.registerVirtualObject(path(), mixer_);
        }
    }
    MixerInFront(const MixerInFront&) = delete;
    MixerInFront& operator=(const MixerInFront&) = delete;

    static QString path() { return QString::fromLatin1(dbus::kMixerPath); }
    QString introspect(const QString& at) const override { return mixer_->introspect(at); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        called.append(message.member());
        if (!knowsFind_ && message.member() == QLatin1String("FindApplications")) {
            return connection.send(message.createErrorReply(QDBusError::UnknownMethod, "no such"));
        }
        return mixer_->handleMessage(message, connection);
    }

    bool registered_ = false;
    QStringList called;

private:
    QDBusConnection bus_;
    bool knowsFind_;
    QDBusVirtualObject* mixer_ = nullptr;
};

// The instance matches a name for the command line; an older one that cannot is
// sent the whole list instead. Either way every outcome is the same, and only a
// name that fits nothing fetches the whole list from a current instance.
TEST_F(CommandLineTest, NamesResolveAlikeWithAndWithoutFindApplications) {
    world_.addApp(300, u"org.example.MusicBox"_s, u"Music Box"_s, true);
    install(u"chromium"_s, u"Chromium"_s);
    install(u"org.a.Editor"_s, u"Editor"_s);
    install(u"org.b.Editor"_s, u"Editor"_s);
    world_.refresh();
    // When the whole list is fetched: never (a key as written), only from an
    // older instance, or always (nothing fits, and the message lists everything).
    enum class Lists { never, whenOlder, always };
    const std::tuple<QStringList, int, Lists> cases[] = {
        {{"get", "org.mozilla.firefox"}, kExitDone, Lists::never},
        {{"get", "FIREFOX"}, kExitDone, Lists::whenOlder},
        {{"get", "fire"}, kExitDone, Lists::whenOlder},
        {{"get", "old player"}, kExitDone, Lists::whenOlder},
        {{"get", "PID:9"}, kExitDone, Lists::whenOlder},
        {{"get", "music"}, kExitDone, Lists::whenOlder},
        {{"get", "mus"}, kExitAmbiguous, Lists::whenOlder},
        {{"--json", "get", "org.example"}, kExitAmbiguous, Lists::whenOlder},
        {{"get", "Chromium"}, kExitDone, Lists::whenOlder},
        {{"get", "editor"}, kExitAmbiguous, Lists::whenOlder},
        {{"get", "chrom"}, kExitNoMatch, Lists::always},
        {{"--json", "get", "nothing"}, kExitNoMatch, Lists::always},
    };
    for (const auto& [arguments, exit, lists] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QString printed[2];
        for (const bool knowsFind : {true, false}) {
            MixerInFront front(serviceBus_, knowsFind);
            ASSERT_TRUE(front.registered_);
            EXPECT_EQ(run(arguments), exit);
            printed[knowsFind ? 1 : 0] = out_ + u'|' + err_;
            EXPECT_EQ(front.called.contains("ListApplications"),
                      lists == Lists::always || (lists == Lists::whenOlder && !knowsFind))
                << front.called.join(' ').toStdString();
        }
        EXPECT_EQ(printed[1], printed[0]);
        EXPECT_NE(printed[0], "|");
    }
    EXPECT_TRUE(storeUntouched());
}

TEST_F(CommandLineTest, ListShowsEveryApplicationForPeopleAndPrograms) {
    ASSERT_EQ(run({"list"}), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_.toStdString(), "KEY                  NAME        LEVEL  MUTED  PLAYING\n"
                                  "org.mozilla.firefox  Firefox      100%  no     yes\n"
                                  "org.example.Music    Music        100%  no     yes\n"
                                  "org.example.Old      Old Player    50%  no     not running\n"
                                  "pid:999              pid:999       25%  yes    not running\n");
    ASSERT_EQ(run({"list", "--json"}), kExitDone);
    const auto old = outJson().value("applications").toArray().at(2).toObject();
    EXPECT_EQ(old.value("key").toString(), "org.example.Old");
    EXPECT_FALSE(old.value("running").toBool());
}

// A volume outside the range is clamped, and standard error says so.
TEST_F(CommandLineTest, VerbsChangeFirefoxAsWrittenAndSayWhenTheyClamp) {
    const std::tuple<QStringList, const char*, const char*> cases[] = {
        // Firefox starts at 120 %
        {{"set", "firefox", "150%"}, "150%\n", ""},
        {{"set", "fire", "+10%"}, "130%\n", ""},
        {{"set", "FIREFOX", "-20"}, "100%\n", ""},
        {{"up", "firefox"}, "125%\n", ""},
        {{"down", "firefox", "30%"}, "90%\n", ""},
        {{"mute", "firefox"}, "120%, muted\n", ""},
        {{"toggle-mute", "firefox"}, "120%, muted\n", ""},
        {{"get", "firefox"}, "120%\n", ""},
        {{"set", "firefox", "500%"},
         "400%\n",
         "corvalle: 500% is outside 0% to 400%; set to 400%.\n"},
        {{"down", "firefox", "200%"}, "0%\n", "corvalle: -80% is outside 0% to 400%; set to 0%.\n"},
    };
    for (const auto& [arguments, line, error] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        world_.model->reset(u"org.mozilla.firefox"_s);
        world_.model->setVolume(1.2, "org.mozilla.firefox");
        ASSERT_EQ(run(arguments), kExitDone) << err_.toStdString();
        EXPECT_EQ(out_.toStdString(), std::string("Firefox (org.mozilla.firefox): ") + line);
        EXPECT_EQ(err_.toStdString(), error);
    }
    ASSERT_EQ(run({"--json", "set", "firefox", "500%"}), kExitDone);
    EXPECT_TRUE(outJson().value("clamped").toBool());
    EXPECT_EQ(outJson().value("volume").toDouble(), 4.0);
}

TEST_F(CommandLineTest, MistakesExitWithTheirCodeAndChangeNothing) {
    world_.addApp(300, u"org.example.MusicBox"_s, u"Music Box"_s, true);
    world_.refresh();
    for (const auto& [arguments, exit, message] :
         std::vector<std::tuple<QStringList, int, QString>>{
             {{"set", "firefox", "abc"}, kExitUsage, "abc is not a volume"},
             {{"up", "firefox", "-5%"}, kExitUsage, "-5%"},
             {{}, kExitUsage, "no command given"},
             {{"set", "firefox"}, kExitUsage, "missing arguments"},
             {{"mute", "mus"},
              kExitAmbiguous,
              "corvalle: mus matches more than one application; give more of its name, or its "
              "key:\n  org.example.Music  Music\n  org.example.MusicBox  Music Box\n"},
             {{"output", "hdmi"}, kExitNoMatch, "Headphones"},
             {{"set", "chrome", "50%"},
              kExitNoMatch,
              "no application matches chrome; the applications are:\n"}}) {
        EXPECT_EQ(run(arguments), exit) << arguments.join(' ').toStdString();
        EXPECT_TRUE(err_.contains(message)) << err_.toStdString();
        EXPECT_EQ(out_, "");
    }
    for (const auto* key : {"org.mozilla.firefox", "org.example.Old", "pid:999"}) {
        EXPECT_TRUE(err_.contains(key)) << "an unknown name lists the applications: " << key;
    }
    ASSERT_EQ(run({"--json", "mute", "org.example.mus"}), kExitAmbiguous);
    const auto candidates = outJson().value("candidates").toArray();
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_EQ(candidates.at(1).toObject().value("key").toString(), "org.example.MusicBox");
    EXPECT_TRUE(storeUntouched());
    EXPECT_EQ(world_.model->outputID(), world_.speakers);
}

TEST_F(CommandLineTest, InstalledApplicationsAreSetByIDOrWholeName) {
    const std::pair<const char*, const char*> installed[] = {
        {"chromium", "Chromium"},   {"org.gnome.Totem", "Videos"},      {"org.a.Editor", "Editor"},
        {"org.b.Editor", "Editor"}, {"org.mozilla.firefox", "Firefox"},
    };
    for (const auto& [id, name] : installed) {
        install(QString::fromUtf8(id), QString::fromUtf8(name));
    }
    const std::tuple<QStringList, int, const char*, const char*> cases[] = {
        // Installed applications are never guessed from the start of a name…
        {{"set", "chrom", "50%"}, kExitNoMatch, "", "no application matches chrom"},
        // …but once remembered, a remembered application is.
        {{"set", "chromium", "50%"}, kExitDone, "Chromium (chromium): 50%\n", ""},
        {{"set", "VIDEOS", "150%"}, kExitDone, "Videos (org.gnome.Totem): 150%\n", ""},
        {{"mute", "org.gnome.Totem.desktop"},
         kExitDone,
         "Videos (org.gnome.Totem): 150%, muted\n",
         ""},
        // A running application still wins over an installed one.
        {{"set", "firefox", "80%"}, kExitDone, "Firefox (org.mozilla.firefox): 80%\n", ""},
        {{"set", "editor", "50%"},
         kExitAmbiguous,
         "",
         "editor names more than one installed application; give its key:\n"
         "  org.a.Editor  Editor\n  org.b.Editor  Editor\n"},
        {{"get", "chrom"}, kExitDone, "Chromium (chromium): 50%\n", ""},
    };
    for (const auto& [arguments, exit, out, err] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_EQ(run(arguments), exit);
        EXPECT_EQ(out_, QString::fromUtf8(out));
        EXPECT_TRUE(err_.contains(QString::fromUtf8(err))) << err_.toStdString();
    }
    EXPECT_EQ(world_.model->setting("chromium").volume, 0.5);
    EXPECT_EQ(world_.model->setting("org.gnome.Totem"), (AppSetting{1.5, true, "Videos"}));
    EXPECT_FALSE(world_.model->settings().contains("org.a.Editor"));
}

TEST_F(CommandLineTest, OutputListsSelectsAndReportsARefusal) {
    ASSERT_EQ(run({"output"}), kExitDone);
    EXPECT_EQ(out_, u"   ID  NAME\n*  %1  Speakers\n   %2  Headphones\n"_s.arg(world_.speakers, 2)
                        .arg(headphones_, 2));
    ASSERT_EQ(run({"output", "phones"}), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_, "Output: Headphones\n");
    EXPECT_EQ(world_.model->outputID(), headphones_);
    // A refusal is answered at once, with the audio system's status.
    world_.hardware.setAcceptsDefaultOutputChange(false);
    EXPECT_EQ(run({"output", "speakers"}), kExitFailed);
    EXPECT_EQ(err_, QStringLiteral("corvalle: The audio system refused Speakers as the output "
                                   "(OSStatus %1)\n")
                        .arg(kAudioHardwareIllegalOperationError));
    EXPECT_EQ(world_.model->outputID(), headphones_);
    ASSERT_EQ(run({"show"}), kExitDone);
    EXPECT_EQ(windowShown_, 1);
}

// `route` sends an application to a device named as `output` names it, or back
// to the default; the choice is remembered and shown; a wrong device changes nothing.
TEST_F(CommandLineTest, RouteSendsAnApplicationToADeviceOrBackToTheDefault) {
    const QString firefox = u"org.mozilla.firefox"_s;
    const QString phones = u"headphones"_s;
    // What part of standard output, or of the error, says, and the output remembered.
    const std::tuple<QStringList, int, const char*, std::optional<QString>> cases[] = {
        {{"route", "firefox", "phones"}, kExitDone, "Firefox: plays on Headphones\n", phones},
        {{"get", "firefox"}, kExitDone, "100%, on Headphones\n", phones},
        {{"route", "firefox", "nowhere"}, kExitNoMatch, "no output device matches", phones},
        {{"route", "firefox"}, kExitUsage, "corvalle: missing arguments", phones},
        {{"route", "firefox", "default"}, kExitDone, "Firefox: plays on the default output\n", {}},
        {{"--json", "route", "firefox", QString::number(world_.speakers)},
         kExitDone,
         R"("output":"speakers","outputName":"Speakers")",
         u"speakers"_s},
    };
    for (const auto& [arguments, exit, printed, output] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_EQ(run(arguments), exit);
        EXPECT_TRUE((exit == kExitDone ? out_ : err_).contains(QString::fromUtf8(printed)))
            << (out_ + err_).toStdString();
        EXPECT_EQ(world_.model->setting(firefox).output, output);
    }
    EXPECT_EQ(stored().value(firefox).toObject().value("output").toString(), "speakers");
}

// That the change stays in force is MixerServiceTest's; saved with the next one, SettingsStorage's.
TEST_F(CommandLineTest, AChangeThatCannotBeSavedExitsOneAndSaysWhy) {
    world_.store.failWrites(u"the disk is full"_s);
    EXPECT_EQ(run({"set", "firefox", "50%"}), kExitFailed);
    EXPECT_EQ(out_, "");
    EXPECT_TRUE(err_.startsWith("corvalle: Settings could not be saved: the disk is full."))
        << err_.toStdString();
    EXPECT_EQ(run({"--json", "mute", "firefox"}), kExitFailed);
    EXPECT_TRUE(outJson().value("error").toString().contains("the disk is full"));
    ASSERT_EQ(run({"list"}), kExitDone);
    EXPECT_TRUE(out_.contains("Last error: Settings could not be saved")) << out_.toStdString();

    world_.store.failWrites(std::nullopt);
    ASSERT_EQ(run({"unmute", "firefox"}), kExitDone) << err_.toStdString();
    ASSERT_EQ(run({"list"}), kExitDone);
    EXPECT_FALSE(out_.contains("Last error")) << out_.toStdString();
}

// The limiter through the command line and the bus: read, turned off and on,
// remembered, a wrong word refused, and a failed save told but in force.
TEST_F(CommandLineTest, TheLimiterIsReadAndTurnedOffAndOn) {
    ASSERT_EQ(run({"limiter"}), kExitDone);
    EXPECT_EQ(out_, "on\n");
    ASSERT_EQ(run({"limiter", "OFF"}), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_, "off\n");
    EXPECT_FALSE(world_.model->limiterOn());
    EXPECT_EQ(world_.store.data(u"limiter"_s), "off");

    const QDBusMessage reply = call(u"SetLimiter"_s, {true});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments().value(0), QVariant(true));
    ASSERT_EQ(run({"--json", "limiter"}), kExitDone);
    EXPECT_EQ(outJson().value("limiter"), QJsonValue(true));

    EXPECT_EQ(run({"limiter", "loud"}), kExitUsage);
    EXPECT_TRUE(err_.contains("limiter takes on or off")) << err_.toStdString();
    EXPECT_EQ(run({"limiter", "on", "off"}), kExitUsage);
    EXPECT_TRUE(world_.model->limiterOn());

    world_.store.failWrites(u"the disk is full"_s);
    EXPECT_EQ(run({"limiter", "off"}), kExitFailed);
    EXPECT_TRUE(err_.contains("the disk is full")) << err_.toStdString();
    EXPECT_FALSE(world_.model->limiterOn()) << "not saved, but in force";
}

// `duck` marks and unmarks as the row's menu does, and `duck-level` sets how low
// the others go; a wrong word or level is refused before anything changes.
TEST_F(CommandLineTest, DuckMarksAnApplicationAndDuckLevelSetsHowLow) {
    const QString firefox = u"org.mozilla.firefox"_s;
    // What part of standard output, or of the error, says; the mark and level after.
    const std::tuple<QStringList, int, const char*, bool, double> cases[] = {
        {{"duck", "firefox"}, kExitDone, ": does not lower the others\n", false, 0.3},
        {{"duck", "fire", "ON"}, kExitDone, ": lowers the others while it plays\n", true, 0.3},
        {{"get", "firefox"}, kExitDone, "100%, lowers the others\n", true, 0.3},
        {{"duck", "firefox", "maybe"}, kExitUsage, "duck takes on or off, not maybe", true, 0.3},
        {{"duck", "firefox", "off", "on"}, kExitUsage, "an application and on or off", true, 0.3},
        {{"duck", "chrome", "off"}, kExitNoMatch, "no application matches chrome", true, 0.3},
        {{"--json", "duck", "firefox", "off"}, kExitDone, R"("lowersOthers":false)", false, 0.3},
        {{"duck-level"}, kExitDone, "30%\n", false, 0.3},
        {{"duck-level", "45%"}, kExitDone, "45%\n", false, 0.45},
        {{"duck-level", "20"}, kExitDone, "20%\n", false, 0.2},
        {{"--json", "duck-level"}, kExitDone, R"("loweredLevel":0.2,"percent":20)", false, 0.2},
        {{"duck-level", "150"}, kExitUsage, "150 is not a level", false, 0.2},
        {{"duck-level", "-5"}, kExitUsage, "-5 is not a level", false, 0.2},
        {{"duck-level", "abc"}, kExitUsage, "abc is not a level", false, 0.2},
        {{"duck-level", "1", "2"}, kExitUsage, "duck-level takes one level", false, 0.2},
    };
    for (const auto& [arguments, exit, printed, marked, level] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const int writes = world_.store.writeCount();
        EXPECT_EQ(run(arguments), exit);
        EXPECT_TRUE((exit == kExitDone ? out_ : err_).contains(QString::fromUtf8(printed)))
            << (out_ + err_).toStdString();
        EXPECT_EQ(world_.model->setting(firefox).lowersOthers, marked);
        EXPECT_EQ(stored().value(firefox).toObject().value("lowersOthers").toBool(), marked);
        EXPECT_EQ(world_.model->loweredLevel(), level);
        if (exit != kExitDone) {
            EXPECT_EQ(world_.store.writeCount(), writes);
        }
    }
    EXPECT_EQ(world_.store.data(u"loweredLevel"_s), "20");
}

// A call shows in the list as the caller's and as the others' state; the
// columns stay away while nothing is marked or lowered.
TEST_F(CommandLineTest, ListShowsWhoCallsAndWhoIsLowered) {
    world_.model->setLowersOthers(true, u"org.example.Music"_s);
    const AudioObjectID phone = world_.addApp(300, u"org.example.Phone"_s, u"Phone"_s, false);
    world_.hardware.setRunningCall(phone, true);
    world_.refresh();
    ASSERT_EQ(run({"list"}), kExitDone) << err_.toStdString();
    EXPECT_EQ(out_.toStdString(),
              "KEY                  NAME        LEVEL  MUTED  PLAYING      LOWERS  CALL\n"
              "org.mozilla.firefox  Firefox      100%  no     yes          no      lowered\n"
              "org.example.Music    Music        100%  no     yes          yes     lowered\n"
              "org.example.Old      Old Player    50%  no     not running  no      no\n"
              "org.example.Phone    Phone        100%  no     yes          no      calling\n"
              "pid:999              pid:999       25%  yes    not running  no      no\n");
    ASSERT_EQ(run({"--json", "list"}), kExitDone);
    const auto applications = outJson().value("applications").toArray();
    const auto flags = [&](int at) {
        const auto object = applications.at(at).toObject();
        return std::tuple{object.value("lowersOthers").toBool(), object.value("calling").toBool(),
                          object.value("lowered").toBool()};
    };
    EXPECT_EQ(flags(1), std::tuple(true, false, true)) << "Music has not played half a second";
    EXPECT_EQ(flags(3), std::tuple(false, true, false));
    ASSERT_EQ(run({"get", "phone"}), kExitDone);
    EXPECT_EQ(out_, "Phone (org.example.Phone): 100%, in a call\n");
}

TEST_F(CommandLineTest, WithoutAnInstanceItSaysSoAndStartsNone) {
    service_.reset();
    EXPECT_EQ(run({"list"}), kExitFailed);
    EXPECT_EQ(err_, "corvalle: Corvalle is still starting; try again.\n");
    serviceBus_.unregisterService(QString::fromLatin1(dbus::kServiceName));
    for (const auto& arguments : std::vector<QStringList>{{"set", "firefox", "50%"}, {"show"}}) {
        EXPECT_EQ(run(arguments), kExitFailed);
        EXPECT_EQ(err_, "Corvalle is not running.\n");
    }
    EXPECT_EQ(run({"--json", "list"}), kExitFailed);
    EXPECT_EQ(outJson().value("error").toString(), "Corvalle is not running.");
    EXPECT_FALSE(
        clientBus_.interface()->isServiceRegistered(QString::fromLatin1(dbus::kServiceName)));
    EXPECT_TRUE(storeUntouched());
}

} // namespace
} // namespace corvalle::test
