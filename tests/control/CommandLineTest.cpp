#include "CommandLine.h"

#include "ControlFixture.h"
#include "DBusNames.h"

#include <QDBusConnectionInterface>
#include <QJsonArray>

namespace corvalle::test {
namespace {

using namespace Qt::StringLiterals;

const QString kFirefox = u"org.mozilla.firefox"_s;

class CommandLineTest : public ControlTest {
protected:
    // Runs `arguments`, expecting `exit`, and `printed` on standard output once
    // done or on standard error otherwise.
    void expectRun(const QStringList& arguments, int exit, const char* printed) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_EQ(run(arguments), exit);
        EXPECT_TRUE((exit == kExitDone ? out_ : err_).contains(QString::fromUtf8(printed)))
            << (out_ + err_).toStdString();
    }
};

// Firefox starts at 120 %, muted where marked. Each change reaches the reply, the
// level heard and the store, and only Firefox; a volume outside the range is
// clamped, and standard error says so.
TEST_F(CommandLineTest, VerbsChangeFirefoxOnlyAsWrittenAndSayWhenTheyClamp) {
    const std::tuple<bool, QStringList, const char*, const char*> cases[] = {
        {false, {"set", "firefox", "150%"}, "150%", ""},
        {false, {"set", "fire", "+10%"}, "130%", ""},
        {false, {"up", "firefox"}, "125%", ""},
        {false, {"down", "firefox", "30%"}, "90%", ""},
        {true, {"up", "firefox", "50%"}, "170%, muted", ""},
        {false, {"mute", "firefox"}, "120%, muted", ""},
        {true, {"mute", "firefox"}, "120%, muted", ""},
        {true, {"toggle-mute", "firefox"}, "120%", ""},
        {true, {"reset", "firefox"}, "100%", ""},
        // Settled on 100 % as the slider does: inside the range, so no warning.
        {false, {"set", "firefox", "100.3%"}, "100%", ""},
        {false,
         {"set", "firefox", "500%"},
         "400%",
         "corvalle: 500% is outside 0% to 400%; set to 400%.\n"},
        {false,
         {"down", "firefox", "200%"},
         "0%",
         "corvalle: -80% is outside 0% to 400%; set to 0%.\n"},
    };
    for (const auto& [muted, arguments, line, error] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        world_.model->reset(kFirefox);
        world_.model->setVolume(1.2, kFirefox);
        if (muted) {
            world_.model->toggleMute(kFirefox);
        }
        ASSERT_EQ(run(arguments), kExitDone) << err_.toStdString();
        EXPECT_EQ(out_, u"Firefox (org.mozilla.firefox): %1\n"_s.arg(QString::fromUtf8(line)));
        EXPECT_EQ(err_, QString::fromUtf8(error));
        const AppSetting setting = world_.model->setting(kFirefox);
        EXPECT_NEAR(levelOf("Firefox"), setting.muted ? 0.0 : setting.volume, 1e-5);
        const auto entry = stored().value(kFirefox).toObject();
        EXPECT_EQ(std::pair(entry.value("volume").toDouble(1.0), entry.value("muted").toBool()),
                  std::pair(setting.volume, setting.muted));
        EXPECT_NEAR(levelOf("Music"), 1.0F, 1e-6);
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

// Found by key or whole name; by the start of one only once remembered.
TEST_F(CommandLineTest, InstalledApplicationsAreSetByIDOrWholeName) {
    for (const auto& [key, name] : {std::pair{"chromium", "Chromium"},
                                    {"org.gnome.Totem", "Videos"},
                                    {"org.a.Editor", "Editor"},
                                    {"org.b.Editor", "Editor"}}) {
        world_.directory.installed[QString::fromUtf8(key)] = {QString::fromUtf8(name), {}};
    }
    const std::pair<QStringList, const char*> cases[] = {
        {{"set", "chromium", "50%"}, "Chromium (chromium): 50%\n"},
        {{"set", "VIDEOS", "150%"}, "Videos (org.gnome.Totem): 150%\n"},
        {{"mute", "org.gnome.Totem.desktop"}, "Videos (org.gnome.Totem): 150%, muted\n"},
        {{"get", "chrom"}, "Chromium (chromium): 50%\n"},
    };
    for (const auto& [arguments, printed] : cases) {
        EXPECT_EQ(run(arguments), kExitDone) << arguments.join(' ').toStdString();
        EXPECT_EQ(out_, QString::fromUtf8(printed));
    }
    expectRun({"set", "editor", "50%"}, kExitAmbiguous,
              "editor names more than one installed application; give its key:\n"
              "  org.a.Editor  Editor\n  org.b.Editor  Editor\n");
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
    const QString phones = u"headphones"_s;
    // What part of standard output, or of the error, says, and the output remembered.
    const std::tuple<QStringList, int, const char*, std::optional<QString>> cases[] = {
        {{"route", "firefox", "phones"}, kExitDone, "Firefox: plays on Headphones\n", phones},
        {{"get", "firefox"}, kExitDone, "100%, on Headphones\n", phones},
        {{"route", "firefox", "nowhere"}, kExitNoMatch, "no output device matches", phones},
        {{"route", "firefox", "default"}, kExitDone, "Firefox: plays on the default output\n", {}},
        {{"--json", "route", "firefox", QString::number(world_.speakers)},
         kExitDone,
         R"("output":"speakers","outputName":"Speakers")",
         u"speakers"_s},
    };
    for (const auto& [arguments, exit, printed, output] : cases) {
        expectRun(arguments, exit, printed);
        EXPECT_EQ(world_.model->setting(kFirefox).output, output);
    }
    EXPECT_EQ(stored().value(kFirefox).toObject().value("output").toString(), "speakers");
}

// That the change stays in force is MixerServiceTest's; saved with the next one,
// SettingsStorage's; the error in JSON, WithoutAnInstance's.
TEST_F(CommandLineTest, AChangeThatCannotBeSavedExitsOneAndSaysWhy) {
    world_.store.failWrites(u"the disk is full"_s);
    EXPECT_EQ(run({"set", "firefox", "50%"}), kExitFailed);
    EXPECT_EQ(out_, "");
    EXPECT_TRUE(err_.startsWith("corvalle: Settings could not be saved: the disk is full."))
        << err_.toStdString();
    ASSERT_EQ(run({"list"}), kExitDone);
    EXPECT_TRUE(out_.contains("Last error: Settings could not be saved")) << out_.toStdString();

    world_.store.failWrites(std::nullopt);
    ASSERT_EQ(run({"mute", "firefox"}), kExitDone) << err_.toStdString();
    ASSERT_EQ(run({"list"}), kExitDone);
    EXPECT_FALSE(out_.contains("Last error")) << out_.toStdString();
}

// Stored and followed by the taps: SettingsStorage's.
TEST_F(CommandLineTest, TheLimiterIsReadAndTurnedOff) {
    ASSERT_EQ(run({"limiter"}), kExitDone);
    EXPECT_EQ(out_, "on\n");
    ASSERT_EQ(run({"limiter", "OFF"}), kExitDone);
    EXPECT_FALSE(world_.model->limiterOn());
    expectRun({"limiter", "loud"}, kExitUsage, "limiter takes on or off, not loud");
}

// `duck` marks and unmarks as the row's menu does, and `duck-level` sets how low
// the others go; a wrong word or level is refused before anything changes.
TEST_F(CommandLineTest, DuckMarksAnApplicationAndDuckLevelSetsHowLow) {
    // What part of standard output, or of the error, says; the mark and level after.
    const std::tuple<QStringList, int, const char*, bool, double> cases[] = {
        {{"duck", "firefox"}, kExitDone, ": does not lower the others\n", false, 0.3},
        {{"duck", "fire", "ON"}, kExitDone, ": lowers the others while it plays\n", true, 0.3},
        {{"get", "firefox"}, kExitDone, "100%, lowers the others\n", true, 0.3},
        {{"duck", "firefox", "maybe"}, kExitUsage, "duck takes on or off, not maybe", true, 0.3},
        {{"duck", "firefox", "off", "on"}, kExitUsage, "an application and on or off", true, 0.3},
        {{"--json", "duck", "firefox", "off"}, kExitDone, R"("lowersOthers":false)", false, 0.3},
        {{"duck-level"}, kExitDone, "30%\n", false, 0.3},
        {{"duck-level", "20"}, kExitDone, "20%\n", false, 0.2},
        {{"--json", "duck-level"}, kExitDone, R"("loweredLevel":0.2,"percent":20)", false, 0.2},
        {{"duck-level", "150"}, kExitUsage, "150 is not a level", false, 0.2},
        {{"duck-level", "-5"}, kExitUsage, "-5 is not a level", false, 0.2},
    };
    for (const auto& [arguments, exit, printed, marked, level] : cases) {
        const int writes = world_.store.writeCount();
        expectRun(arguments, exit, printed);
        EXPECT_EQ(world_.model->setting(kFirefox).lowersOthers, marked);
        EXPECT_EQ(stored().value(kFirefox).toObject().value("lowersOthers").toBool(), marked);
        EXPECT_EQ(world_.model->loweredLevel(), level);
        if (exit != kExitDone) {
            EXPECT_EQ(world_.store.writeCount(), writes);
        }
    }
    EXPECT_EQ(world_.store.data(u"loweredLevel"_s), "20");
}

// `per-output` turns on and off what the row's output menu does, through the bus.
TEST_F(CommandLineTest, PerOutputRemembersALevelForEachOutput) {
    const std::tuple<QStringList, int, const char*, bool> cases[] = {
        {{"per-output", "firefox"}, kExitDone, ": one level on every output device\n", false},
        {{"per-output", "fire", "on"}, kExitDone, ": a level for each output device\n", true},
        {{"get", "firefox"}, kExitDone, "100%, a level for each output\n", true},
        {{"per-output", "firefox", "both"},
         kExitUsage,
         "per-output takes on or off, not both",
         true},
        {{"--json", "per-output", "firefox", "off"}, kExitDone, R"("levelPerOutput":false)", false},
    };
    for (const auto& [arguments, exit, printed, on] : cases) {
        expectRun(arguments, exit, printed);
        EXPECT_EQ(world_.model->setting(kFirefox).levelPerOutput, on);
        EXPECT_EQ(stored().value(kFirefox).toObject().value("levelPerOutput").toBool(), on);
    }
}

// `shortcuts` gives an application keys of its own as the row's menu does; a
// reset takes them away; a wrong word is refused before anything changes.
TEST_F(CommandLineTest, ShortcutsChoosesAnApplicationForKeysOfItsOwn) {
    const std::tuple<QStringList, int, const char*, bool> cases[] = {
        {{"shortcuts", "firefox"}, kExitDone, ": has no keyboard shortcuts of its own\n", false},
        {{"shortcuts", "fire", "ON"}, kExitDone, ": has keyboard shortcuts of its own\n", true},
        {{"get", "firefox"}, kExitDone, "100%, has shortcuts\n", true},
        {{"shortcuts", "firefox", "maybe"},
         kExitUsage,
         "shortcuts takes on or off, not maybe",
         true},
        {{"shortcuts", "firefox", "off", "on"}, kExitUsage, "an application and on or off", true},
        {{"--json", "get", "firefox"}, kExitDone, R"("shortcuts":true)", true},
        {{"reset", "firefox"}, kExitDone, "Firefox (org.mozilla.firefox): 100%\n", false},
        {{"shortcuts", "firefox", "on"}, kExitDone, ": has keyboard shortcuts of its own\n", true},
        {{"--json", "shortcuts", "firefox", "off"}, kExitDone, R"("shortcuts":false)", false},
    };
    for (const auto& [arguments, exit, printed, chosen] : cases) {
        const int writes = world_.store.writeCount();
        expectRun(arguments, exit, printed);
        EXPECT_EQ(world_.model->shortcutKeys().contains(kFirefox), chosen);
        EXPECT_EQ(world_.store.data(u"shortcutApps"_s).value_or("[]").contains("firefox"), chosen);
        if (exit != kExitDone) {
            EXPECT_EQ(world_.store.writeCount(), writes);
        }
    }
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
    const auto music = outJson().value("applications").toArray().at(1).toObject();
    EXPECT_TRUE(music.value("lowersOthers").toBool() && music.value("lowered").toBool());
    EXPECT_FALSE(music.value("calling").toBool()) << "Music has not played half a second";
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
