#include "ControlFixture.h"
#include "DBusNames.h"

#include <QDBusArgument>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <cmath>
#include <limits>

namespace corvalle::test {
namespace {

using namespace Qt::StringLiterals;

QVariantMap applicationOf(const QDBusMessage& reply) {
    QVariantMap application;
    reply.arguments().at(0).value<QDBusArgument>() >> application;
    return application;
}

class MixerServiceTest : public ControlTest {};

// Introspection serves the interface file of the repository, and every method of
// that file is answered and checks its argument types: a call with an argument
// too many is refused as such, never as an unknown method.
TEST_F(MixerServiceTest, TheInterfaceFileIsServedAndEveryMethodInItAnswered) {
    QFile file(QStringLiteral(CORVALLE_MIXER_INTERFACE_XML));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto documented = QString::fromUtf8(file.readAll());
    const auto message = QDBusMessage::createMethodCall(
        QString::fromLatin1(dbus::kServiceName), QString::fromLatin1(dbus::kMixerPath),
        u"org.freedesktop.DBus.Introspectable"_s, u"Introspect"_s);
    const auto reply = clientBus_.call(message, QDBus::BlockWithGui, 5000);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const auto begin = documented.indexOf(
        QStringLiteral("<interface name=\"%1\"").arg(QLatin1String(dbus::kMixerInterface)));
    const auto end = documented.indexOf(u"</interface>"_s, begin);
    ASSERT_TRUE(begin >= 0 && end > begin + 1000);
    EXPECT_TRUE(reply.arguments().at(0).toString().contains(documented.mid(begin, end - begin)))
        << reply.arguments().at(0).toString().toStdString();

    const QRegularExpression methodTag(QStringLiteral("<method name=\"(\\w+)\""));
    int methods = 0;
    for (const auto& match : methodTag.globalMatch(documented)) {
        const auto method = match.captured(1);
        ++methods;
        EXPECT_EQ(call(method, {"org.mozilla.firefox", 0.5, true, 7}).errorName(),
                  "org.freedesktop.DBus.Error.InvalidArgs")
            << method.toStdString();
    }
    EXPECT_EQ(methods, 20);
    EXPECT_EQ(call(u"SetLoudness"_s, {}).errorName(), "org.freedesktop.DBus.Error.UnknownMethod");
}

// Each change reaches the reply, the level heard and the store, and only Firefox.
TEST_F(MixerServiceTest, ChangesReachFirefoxOnly) {
    // Whether Firefox starts muted (always at 120 %), the call, and what results.
    const std::tuple<bool, const char*, QVariant, double, bool> cases[] = {
        {false, "SetVolume", 1.5, 1.5, false},    {false, "SetVolume", 5.0, 4.0, false},
        {false, "SetVolume", -0.3, 0.0, false},   {false, "SetVolume", 1.003, 1.0, false},
        {false, "StepVolume", 0.25, 1.45, false}, {false, "StepVolume", 3.0, 4.0, false},
        {true, "StepVolume", 0.5, 1.7, true},     {false, "SetMute", true, 1.2, true},
        {true, "SetMute", true, 1.2, true},       {false, "ToggleMute", {}, 1.2, true},
        {true, "ToggleMute", {}, 1.2, false},     {true, "Reset", {}, 1.0, false},
    };
    const QString firefox = u"org.mozilla.firefox"_s;
    for (const auto& [startMuted, method, argument, volume, muted] : cases) {
        SCOPED_TRACE(std::string(method) + " " + argument.toString().toStdString());
        world_.model->reset(firefox);
        world_.model->setVolume(1.2, firefox);
        if (startMuted) {
            world_.model->toggleMute(firefox);
        }
        QVariantList arguments{firefox};
        if (argument.isValid()) {
            arguments.append(argument);
        }
        const auto reply = call(QString::fromLatin1(method), arguments);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const QVariantMap application = applicationOf(reply);
        EXPECT_NEAR(application.value("volume").toDouble(), volume, 1e-12);
        EXPECT_EQ(application.value("muted").toBool(), muted);
        EXPECT_NEAR(levelOf("Firefox"), muted ? 0.0F : static_cast<float>(volume), 1e-5);
        const auto entry = stored().value(firefox).toObject();
        if (volume == 1.0 && !muted) {
            EXPECT_TRUE(entry.isEmpty()) << "back at the default, nothing is remembered";
        } else {
            EXPECT_NEAR(entry.value("volume").toDouble(), volume, 1e-12);
            EXPECT_EQ(entry.value("muted").toBool(), muted);
        }
        EXPECT_NEAR(levelOf("Music"), 1.0F, 1e-6);
    }
}

TEST_F(MixerServiceTest, RefusedCallsChangeNothing) {
    const double inf = std::numeric_limits<double>::infinity();
    const QString firefox = u"org.mozilla.firefox"_s;
    const QString invalidArgs = u"org.freedesktop.DBus.Error.InvalidArgs"_s;
    for (const auto& [method, arguments, error] :
         std::vector<std::tuple<QString, QVariantList, QString>>{
             {"SetVolume", {"org.nowhere", 0.5}, dbus::kErrorUnknownApplication},
             {"SetVolume", {"firefox", 0.5}, dbus::kErrorUnknownApplication},
             {"ToggleMute", {"org.nowhere"}, dbus::kErrorUnknownApplication},
             {"Reset", {"org.nowhere"}, dbus::kErrorUnknownApplication},
             {"SetVolume", {firefox, std::nan("")}, dbus::kErrorInvalidVolume},
             {"SetVolume", {firefox, inf}, dbus::kErrorInvalidVolume},
             {"StepVolume", {firefox, std::nan("")}, dbus::kErrorInvalidVolume},
             {"SelectOutput", {uint{4242}}, dbus::kErrorUnknownOutput},
             {"RouteApplication", {firefox, uint{4242}}, dbus::kErrorUnknownOutput},
             {"RouteApplication", {"org.nowhere", uint{0}}, dbus::kErrorUnknownApplication},
             {"SetVolume", {firefox, u"150%"_s}, invalidArgs},
             {"SetMute", {firefox}, invalidArgs},
             {"SetLowersOthers", {"org.nowhere", true}, dbus::kErrorUnknownApplication},
             {"SetLoweredLevel", {std::nan("")}, dbus::kErrorInvalidVolume},
             {"SetLoweredLevel", {-inf}, dbus::kErrorInvalidVolume}}) {
        EXPECT_EQ(call(method, arguments).errorName(), error)
            << method.toStdString() << " " << arguments.at(0).toString().toStdString();
    }
    EXPECT_TRUE(storeUntouched());
    EXPECT_EQ(world_.model->settings().size(), 2U);
    EXPECT_EQ(world_.model->outputID(), world_.speakers);
    EXPECT_EQ(world_.model->loweredLevel(), 0.3);
}

// The retry with the next change is SettingsStorage's; LastError clearing, the command line's.
TEST_F(MixerServiceTest, AChangeThatCannotBeSavedIsAnErrorAndStaysInForce) {
    world_.store.failWrites(u"the disk is full"_s);
    const QString firefox = u"org.mozilla.firefox"_s;
    for (const auto& [method, arguments] :
         std::vector<std::pair<QString, QVariantList>>{{"SetVolume", {firefox, 0.5}},
                                                       {"StepVolume", {firefox, 0.25}},
                                                       {"SetMute", {firefox, true}},
                                                       {"ToggleMute", {firefox}},
                                                       {"SetLowersOthers", {firefox, true}},
                                                       {"SetLoweredLevel", {0.5}},
                                                       {"Reset", {"org.example.Old"}}}) {
        const auto reply = call(method, arguments);
        EXPECT_EQ(reply.errorName(), dbus::kErrorNotSaved) << method.toStdString();
        EXPECT_TRUE(reply.errorMessage().contains("the disk is full")) << method.toStdString();
    }
    EXPECT_EQ(world_.model->setting(firefox).volume, 0.75) << "every change is in force";
    EXPECT_FALSE(world_.model->setting(firefox).muted);
    EXPECT_TRUE(world_.model->setting(firefox).lowersOthers);
    EXPECT_EQ(world_.model->loweredLevel(), 0.5);
    EXPECT_TRUE(call(u"LastError"_s).arguments().at(0).toString().contains("full"));
}

TEST_F(MixerServiceTest, SignalsOnlyWhenWhatClientsReadChanges) {
    SignalLog log;
    const auto service = QString::fromLatin1(dbus::kServiceName);
    const auto path = QString::fromLatin1(dbus::kMixerPath);
    const auto mixer = QString::fromLatin1(dbus::kMixerInterface);
    for (const auto& [signal, slot] :
         {std::pair{"ApplicationsChanged", SLOT(onApplicationsChanged())},
          {"SettingsChanged", SLOT(onSettingsChanged())},
          {"OutputsChanged", SLOT(onOutputsChanged())}}) {
        ASSERT_TRUE(clientBus_.connect(service, path, mixer, signal, &log, slot)) << signal;
    }
    // The bus keeps the order of one sender's messages, so once the signal of a
    // later change has arrived, any signal sent before it has too.
    for (int i = 0; i < 5; ++i) {
        world_.model->refresh();
    }
    call(u"SetVolume"_s, {"org.mozilla.firefox", 0.5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.settings == 1; }));
    EXPECT_EQ(log.applications, 1) << "refreshes that change nothing send nothing";
    EXPECT_EQ(log.outputs, 0) << "refreshes that change nothing send nothing";

    call(u"SetVolume"_s, {"org.mozilla.firefox", 0.5}); // changes nothing
    world_.model->toggleMute("org.example.Music");      // as the panel would
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.settings == 2; }));
    EXPECT_EQ(log.applications, 2) << "a change to the same level sends nothing";
    const AudioObjectID hdmi = world_.hardware.addDevice({.uid = "hdmi", .name = "HDMI"});
    world_.refresh();
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.outputs == 1; }));
    world_.model->toggleMute("org.example.Music");
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.settings == 3; }));
    EXPECT_EQ(log.applications, 3) << "a new device changes no application";
    EXPECT_EQ(log.outputs, 1);
    // A remembered setting without a row can be changed, and leaves the list when forgotten.
    ASSERT_EQ(call(u"SetVolume"_s, {"pid:999", 0.75}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(world_.model->setting("pid:999"), (AppSetting{0.75, true, std::nullopt}));
    // It shows its output by the device's name, and by its ID once that is gone.
    world_.model->setOutput(u"hdmi"_s, "pid:999");
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.settings == 5; }));
    world_.hardware.removeDevice(hdmi);
    world_.refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.outputs == 2; }));
    EXPECT_EQ(log.applications, 6);
    ASSERT_EQ(call(u"Reset"_s, {"pid:999"}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.settings == 6; }));
    EXPECT_EQ(log.applications, 7);
    EXPECT_EQ(call(u"Reset"_s, {"pid:999"}).errorName(), dbus::kErrorUnknownApplication);
}

// A mark is a setting; the call it makes once Music has played for half a second
// changes no setting, and reaches clients all the same.
TEST_F(MixerServiceTest, MarkingAndTheLoweredLevelReachClients) {
    SignalLog log;
    const auto service = QString::fromLatin1(dbus::kServiceName);
    const auto path = QString::fromLatin1(dbus::kMixerPath);
    const auto mixer = QString::fromLatin1(dbus::kMixerInterface);
    ASSERT_TRUE(clientBus_.connect(service, path, mixer, u"ApplicationsChanged"_s, &log,
                                   SLOT(onApplicationsChanged())));
    ASSERT_TRUE(clientBus_.connect(service, path, mixer, u"LoweredLevelChanged"_s, &log,
                                   SLOT(onLoweredLevelChanged(double))));
    const QString music = u"org.example.Music"_s;
    const auto marked = call(u"SetLowersOthers"_s, {music, true});
    ASSERT_EQ(marked.type(), QDBusMessage::ReplyMessage) << marked.errorMessage().toStdString();
    EXPECT_TRUE(applicationOf(marked).value("lowersOthers").toBool());
    EXPECT_FALSE(applicationOf(marked).value("calling").toBool()) << "not yet half a second";
    EXPECT_TRUE(stored().value(music).toObject().value("lowersOthers").toBool());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.applications == 1; }));

    const auto settingsRevision = world_.model->settingsRevision();
    world_.steady += MixerModel::kShortestCall;
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.applications == 2; }));
    EXPECT_EQ(world_.model->settingsRevision(), settingsRevision);
    const auto listed = call(u"ListApplications"_s);
    QList<QVariantMap> applications;
    listed.arguments().at(0).value<QDBusArgument>() >> applications;
    ASSERT_GE(applications.size(), 2);
    EXPECT_TRUE(applications.at(0).value("lowered").toBool()) << "Firefox";
    EXPECT_TRUE(applications.at(1).value("calling").toBool()) << "Music";
    EXPECT_EQ(applications.at(0).value("volume").toDouble(), 1.0) << "its own setting";

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
