#include "ControlFixture.h"
#include "DBusNames.h"

#include <QDBusArgument>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <cmath>

namespace corvalle::test {
namespace {

using namespace Qt::StringLiterals;

const QString kFirefox = u"org.mozilla.firefox"_s;

QVariantMap applicationOf(const QDBusMessage& reply) {
    QVariantMap application;
    reply.arguments().at(0).value<QDBusArgument>() >> application;
    return application;
}

class MixerServiceTest : public ControlTest {
protected:
    void listen(const char* signal, const char* slot) {
        ASSERT_TRUE(clientBus_.connect(
            QString::fromLatin1(dbus::kServiceName), QString::fromLatin1(dbus::kMixerPath),
            QString::fromLatin1(dbus::kMixerInterface), QString::fromLatin1(signal), &log, slot))
            << signal;
    }

    SignalLog log;
};

// Every method of the repository's interface file (which Introspect serves as
// built) is answered and checks its argument types: a call with an argument too
// many is refused as such, never as an unknown method.
TEST_F(MixerServiceTest, EveryMethodOfTheInterfaceFileChecksItsArguments) {
    QFile file(QStringLiteral(CORVALLE_MIXER_INTERFACE_XML));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QRegularExpression methodTag(QStringLiteral("<method name=\"(\\w+)\""));
    int methods = 0;
    for (const auto& match : methodTag.globalMatch(QString::fromUtf8(file.readAll()))) {
        ++methods;
        EXPECT_EQ(call(match.captured(1), {kFirefox, 0.5, true, 7}).errorName(),
                  "org.freedesktop.DBus.Error.InvalidArgs")
            << match.captured(1).toStdString();
    }
    EXPECT_EQ(methods, 22);
    EXPECT_EQ(call(u"SetLoudness"_s, {}).errorName(), "org.freedesktop.DBus.Error.UnknownMethod");
}

TEST_F(MixerServiceTest, RefusedCallsChangeNothing) {
    // Arguments of the wrong types are EveryMethodOfTheInterfaceFile's.
    for (const auto& [method, arguments, error] :
         std::vector<std::tuple<QString, QVariantList, QString>>{
             {"SetVolume", {"org.nowhere", 0.5}, dbus::kErrorUnknownApplication},
             {"SetVolume", {"firefox", 0.5}, dbus::kErrorUnknownApplication},
             {"SetVolume", {kFirefox, std::nan("")}, dbus::kErrorInvalidVolume},
             {"StepVolume", {kFirefox, std::nan("")}, dbus::kErrorInvalidVolume},
             {"SelectOutput", {uint{4242}}, dbus::kErrorUnknownOutput},
             {"RouteApplication", {kFirefox, uint{4242}}, dbus::kErrorUnknownOutput},
             {"RouteApplication", {"org.nowhere", uint{0}}, dbus::kErrorUnknownApplication},
             {"SetLowersOthers", {"org.nowhere", true}, dbus::kErrorUnknownApplication},
             {"SetLevelPerOutput", {"org.nowhere", true}, dbus::kErrorUnknownApplication},
             {"SetShortcuts", {"org.nowhere", true}, dbus::kErrorUnknownApplication},
             {"SetLoweredLevel", {std::nan("")}, dbus::kErrorInvalidVolume}}) {
        EXPECT_EQ(call(method, arguments).errorName(), error)
            << method.toStdString() << " " << arguments.at(0).toString().toStdString();
    }
    EXPECT_TRUE(storeUntouched());
    EXPECT_EQ(world_.model->settings().size(), 2U);
    EXPECT_EQ(world_.model->outputID(), world_.speakers);
    EXPECT_EQ(world_.model->loweredLevel(), 0.3);
}

// What each change does is CommandLineTest's; the retry with the next change,
// SettingsStorage's; LastError clearing, the command line's.
TEST_F(MixerServiceTest, AChangeThatCannotBeSavedIsAnErrorAndStaysInForce) {
    world_.store.failWrites(u"the disk is full"_s);
    for (const auto& [method, arguments] :
         std::vector<std::pair<QString, QVariantList>>{{"SetVolume", {kFirefox, 0.5}},
                                                       {"SetMute", {kFirefox, true}},
                                                       {"SetLowersOthers", {kFirefox, true}},
                                                       {"SetLoweredLevel", {0.5}},
                                                       {"Reset", {"org.example.Old"}}}) {
        const auto reply = call(method, arguments);
        EXPECT_EQ(reply.errorName(), dbus::kErrorNotSaved) << method.toStdString();
        EXPECT_TRUE(reply.errorMessage().contains("the disk is full")) << method.toStdString();
    }
    EXPECT_EQ(world_.model->setting(kFirefox), (AppSetting{0.5, true, u"Firefox"_s, {}, {}, true}))
        << "every change is in force";
    EXPECT_EQ(world_.model->loweredLevel(), 0.5);
    EXPECT_TRUE(call(u"LastError"_s).arguments().at(0).toString().contains("full"));
}

TEST_F(MixerServiceTest, SignalsOnlyWhenWhatClientsReadChanges) {
    listen("ApplicationsChanged", SLOT(onApplicationsChanged()));
    listen("SettingsChanged", SLOT(onSettingsChanged()));
    listen("OutputsChanged", SLOT(onOutputsChanged()));
    // The bus keeps the order of one sender's messages, so once the signal of a
    // later change has arrived, any signal sent before it has too.
    const auto waitFor = [](const int& count, int wanted) {
        return QTest::qWaitFor([&] { return count == wanted; });
    };
    world_.model->refresh();
    world_.model->refresh();
    call(u"SetVolume"_s, {kFirefox, 0.5});
    ASSERT_TRUE(waitFor(log.settings, 1));
    EXPECT_EQ(std::pair(log.applications, log.outputs), std::pair(1, 0))
        << "refreshes that change nothing send nothing";

    call(u"SetVolume"_s, {kFirefox, 0.5});         // changes nothing
    world_.model->toggleMute("org.example.Music"); // as the panel would
    ASSERT_TRUE(waitFor(log.settings, 2));
    EXPECT_EQ(log.applications, 2) << "a change to the same level sends nothing";
    world_.hardware.addDevice({.uid = "hdmi", .name = "HDMI"});
    world_.refresh();
    EXPECT_TRUE(waitFor(log.outputs, 1));
    world_.model->toggleMute("org.example.Music");
    ASSERT_TRUE(waitFor(log.settings, 3));
    EXPECT_EQ(std::pair(log.applications, log.outputs), std::pair(3, 1))
        << "a new device changes no application";
    // A remembered setting without a row can be changed, and leaves the list when
    // forgotten.
    ASSERT_EQ(call(u"SetVolume"_s, {"pid:999", 0.75}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(world_.model->setting("pid:999"), (AppSetting{0.75, true, std::nullopt}));
    ASSERT_EQ(call(u"Reset"_s, {"pid:999"}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitFor(log.settings, 5));
    EXPECT_EQ(log.applications, 5);
    EXPECT_EQ(call(u"Reset"_s, {"pid:999"}).errorName(), dbus::kErrorUnknownApplication);
}

// The choice of shortcuts is not a setting, yet reaches clients; a key chosen
// while it ran stays addressable at the default setting, so it can be taken back.
TEST_F(MixerServiceTest, TheChoiceOfShortcutsReachesClients) {
    listen("ApplicationsChanged", SLOT(onApplicationsChanged()));
    const auto chosen = call(u"SetShortcuts"_s, {kFirefox, true});
    EXPECT_TRUE(applicationOf(chosen).value("shortcuts").toBool());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.applications == 1; }));
    EXPECT_EQ(world_.model->shortcutKeys(), std::set<QString>{kFirefox});

    world_.model->setHasShortcuts(true, u"exe:/usr/bin/mpv"_s);
    const auto mpv = call(u"GetApplication"_s, {"exe:/usr/bin/mpv"});
    EXPECT_TRUE(applicationOf(mpv).value("shortcuts").toBool());
    ASSERT_EQ(call(u"SetShortcuts"_s, {"exe:/usr/bin/mpv", false}).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(call(u"GetApplication"_s, {"exe:/usr/bin/mpv"}).errorName(),
              dbus::kErrorUnknownApplication);
    EXPECT_EQ(world_.model->settings().size(), 2U) << "no setting was made for it";
}

// The call a mark makes once Music has played for half a second changes no
// setting, and reaches clients all the same. Marking as such is CommandLineTest's.
TEST_F(MixerServiceTest, MarkingAndTheLoweredLevelReachClients) {
    listen("ApplicationsChanged", SLOT(onApplicationsChanged()));
    listen("LoweredLevelChanged", SLOT(onLoweredLevelChanged(double)));
    const QString music = u"org.example.Music"_s;
    const auto marked = call(u"SetLowersOthers"_s, {music, true});
    EXPECT_FALSE(applicationOf(marked).value("calling").toBool()) << "not yet half a second";
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.applications == 1; }));
    const auto settingsRevision = world_.model->settingsRevision();
    world_.steady += MixerModel::kShortestCall;
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.applications == 2; }));
    EXPECT_EQ(world_.model->settingsRevision(), settingsRevision);
    EXPECT_TRUE(applicationOf(call(u"GetApplication"_s, {music})).value("calling").toBool());

    // What is asked for, what it is taken to, and whether that is a change.
    const std::tuple<double, double, bool> levels[] = {
        {0.5, 0.5, true}, {0.5, 0.5, false}, {1.5, 1.0, true}, {-0.2, 0.0, true}};
    for (const auto& [asked, level, changes] : levels) {
        SCOPED_TRACE(asked);
        const auto before = log.loweredLevels.size();
        const auto reply = call(u"SetLoweredLevel"_s, {asked});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.arguments().at(0).toDouble(), level);
        EXPECT_EQ(call(u"LoweredLevel"_s).arguments().at(0).toDouble(), level);
        EXPECT_EQ(world_.store.data(u"loweredLevel"_s), QByteArray::number(level * 100.0));
        if (changes) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return log.loweredLevels.size() == before + 1; }));
            EXPECT_EQ(log.loweredLevels.back(), level);
        }
    }
    EXPECT_EQ(log.loweredLevels.size(), 3U) << "a level set again is no change";
}

} // namespace
} // namespace corvalle::test
