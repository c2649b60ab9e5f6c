#include "ControlFixture.h"
#include "DBusNames.h"
#include "MixerBusTypes.h"

#include <QDBusArgument>
#include <QFile>
#include <QXmlStreamReader>
#include <cmath>
#include <limits>

namespace corvalle::test {
namespace {

using namespace std::chrono_literals;

QStringList keysOf(const QList<QVariantMap>& applications) {
    QStringList keys;
    for (const auto& application : applications) {
        keys.append(application.value(QStringLiteral("key")).toString());
    }
    return keys;
}

QList<QVariantMap> applicationsOf(const QDBusMessage& reply) {
    QList<QVariantMap> applications;
    reply.arguments().at(0).value<QDBusArgument>() >> applications;
    return applications;
}

QVariantMap applicationOf(const QDBusMessage& reply) {
    QVariantMap application;
    reply.arguments().at(0).value<QDBusArgument>() >> application;
    return application;
}

// The members of one interface in an introspection document, one line each, in order.
QStringList interfaceMembers(const QString& xml, const QString& interfaceName) {
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inside = false;
    while (!reader.atEnd()) {
        reader.readNext();
        const auto name = reader.name().toString();
        if (reader.isStartElement() && name == QLatin1String("interface")) {
            inside = reader.attributes().value(QLatin1String("name")) == interfaceName;
        } else if (reader.isEndElement() && name == QLatin1String("interface")) {
            inside = false;
        } else if (inside && reader.isStartElement()) {
            QStringList attributes;
            for (const auto& attribute : reader.attributes()) {
                attributes.append(attribute.name().toString() + QLatin1Char('=') +
                                  attribute.value().toString());
            }
            attributes.sort();
            members.append(name + QLatin1Char(' ') + attributes.join(QLatin1Char(' ')));
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return members;
}

QString repositoryXml() {
    QFile file(QStringLiteral(CORVALLE_MIXER_INTERFACE_XML));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromUtf8(file.readAll());
}

class MixerServiceTest : public ControlTest {};

TEST_F(MixerServiceTest, IntrospectionServesTheInterfaceFileOfTheRepository) {
    auto message = QDBusMessage::createMethodCall(
        QString::fromLatin1(dbus::kServiceName), QString::fromLatin1(dbus::kMixerPath),
        QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    const auto reply = clientBus_.call(message, QDBus::BlockWithGui, 5000);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const auto interface = QString::fromLatin1(dbus::kMixerInterface);
    const auto served = interfaceMembers(reply.arguments().at(0).toString(), interface);
    const auto documented = interfaceMembers(repositoryXml(), interface);
    EXPECT_GT(documented.size(), 30);
    EXPECT_EQ(served, documented);
}

// Every documented method answers arguments of its documented types with a reply
// of its documented types.
TEST_F(MixerServiceTest, EveryDocumentedMethodAnswersWithItsDocumentedTypes) {
    QXmlStreamReader reader(repositoryXml());
    struct Method {
        QString name;
        QString in;
        QString out;
    };
    std::vector<Method> methods;
    bool inMethod = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == QLatin1String("method")) {
            inMethod = false;
        }
        if (!reader.isStartElement()) {
            continue;
        }
        const auto attributes = reader.attributes();
        if (reader.name() == QLatin1String("method")) {
            inMethod = true;
            methods.push_back({attributes.value(QLatin1String("name")).toString(), {}, {}});
        } else if (reader.name() == QLatin1String("arg") && inMethod) {
            auto& method = methods.back();
            (attributes.value(QLatin1String("direction")) == QLatin1String("in") ? method.in
                                                                                 : method.out) +=
                attributes.value(QLatin1String("type"));
        }
    }
    ASSERT_EQ(methods.size(), 12U);
    for (const auto& method : methods) {
        QVariantList arguments;
        for (const auto type : method.in) {
            if (type == QLatin1Char('s')) {
                arguments.append(QStringLiteral("org.mozilla.firefox"));
            } else if (type == QLatin1Char('d')) {
                arguments.append(0.5);
            } else if (type == QLatin1Char('b')) {
                arguments.append(true);
            } else if (type == QLatin1Char('u')) {
                arguments.append(uint{world_.speakers});
            }
        }
        const auto reply = call(method.name, arguments);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.name.toStdString() << ": " << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.signature(), method.out) << method.name.toStdString();
    }
}

TEST_F(MixerServiceTest, ListsRowsInPanelOrderThenUnlistedSettings) {
    world_.hardware.setRunningOutput(world_.model->apps().front().processObjects.front(), false);
    world_.refresh();
    const auto applications = applicationsOf(call(QStringLiteral("ListApplications")));
    ASSERT_EQ(keysOf(applications), (QStringList{"org.mozilla.firefox", "org.example.Music",
                                                 "org.example.Old", "pid:999"}));
    const auto& firefox = applications[0];
    EXPECT_EQ(firefox.value("name").toString(), "Firefox");
    EXPECT_FALSE(firefox.value("playing").toBool());
    EXPECT_TRUE(firefox.value("hasProcesses").toBool());
    EXPECT_FALSE(firefox.value("hasSetting").toBool());
    EXPECT_TRUE(firefox.value("listed").toBool());
    EXPECT_EQ(firefox.value("volume").toDouble(), 1.0);
    EXPECT_TRUE(applications[1].value("playing").toBool());
    const auto& old = applications[2];
    EXPECT_EQ(old.value("name").toString(), "Old Player");
    EXPECT_FALSE(old.value("hasProcesses").toBool());
    EXPECT_TRUE(old.value("hasSetting").toBool());
    EXPECT_EQ(old.value("volume").toDouble(), 0.5);
    const auto& ended = applications[3];
    EXPECT_EQ(ended.value("name").toString(), "pid:999");
    EXPECT_FALSE(ended.value("listed").toBool());
    EXPECT_TRUE(ended.value("muted").toBool());
}

struct VolumeCase {
    double requested;
    double stored; // NaN: no entry remains
    float heard;
};

class SetVolumeTest : public ControlTest, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(SetVolumeTest, ClampsAsThePanelDoesAndReachesTheDeviceAndTheStore) {
    const auto [requested, remembered, heard] = GetParam();
    const auto reply = call(QStringLiteral("SetVolume"), {"org.mozilla.firefox", requested});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const auto expected = std::isnan(remembered) ? 1.0 : remembered;
    EXPECT_DOUBLE_EQ(applicationOf(reply).value("volume").toDouble(), expected);
    EXPECT_NEAR(levelOf("Firefox"), heard, 1e-5);
    const auto entry = stored().value("org.mozilla.firefox");
    if (std::isnan(remembered)) {
        EXPECT_TRUE(entry.isUndefined()) << "back at full volume, nothing is remembered";
    } else {
        EXPECT_DOUBLE_EQ(entry.toObject().value("volume").toDouble(), remembered);
        EXPECT_EQ(entry.toObject().value("name").toString(), "Firefox");
    }
    EXPECT_NEAR(levelOf("Music"), 1.0F, 1e-6) << "other applications are untouched";
}

INSTANTIATE_TEST_SUITE_P(Volumes, SetVolumeTest,
                         ::testing::Values(VolumeCase{1.5, 1.5, 1.5F}, VolumeCase{0.0, 0.0, 0.0F},
                                           VolumeCase{-0.3, 0.0, 0.0F}, VolumeCase{5.0, 4.0, 4.0F},
                                           VolumeCase{1e300, 4.0, 4.0F},
                                           VolumeCase{1.003, std::nan(""), 1.0F}));

TEST_F(MixerServiceTest, RejectsVolumesThatAreNotNumbers) {
    const double inf = std::numeric_limits<double>::infinity();
    for (const double volume : {std::nan(""), inf, -inf}) {
        const auto reply = call(QStringLiteral("SetVolume"), {"org.mozilla.firefox", volume});
        EXPECT_EQ(reply.errorName(), dbus::kErrorInvalidVolume) << volume;
        const auto step = call(QStringLiteral("StepVolume"), {"org.mozilla.firefox", volume});
        EXPECT_EQ(step.errorName(), dbus::kErrorInvalidVolume) << volume;
    }
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);
    EXPECT_FALSE(world_.model->settings().contains("org.mozilla.firefox"));
}

TEST_F(MixerServiceTest, UnknownKeysAreRefusedAndNothingIsStored) {
    for (const auto& [method, arguments] :
         std::vector<std::pair<QString, QVariantList>>{{"SetVolume", {"org.nowhere", 0.5}},
                                                       {"StepVolume", {"org.nowhere", 0.5}},
                                                       {"SetMute", {"org.nowhere", true}},
                                                       {"ToggleMute", {"org.nowhere"}},
                                                       {"Reset", {"org.nowhere"}},
                                                       {"GetApplication", {"org.nowhere"}},
                                                       {"SetVolume", {"firefox", 0.5}},
                                                       {"SetVolume", {"", 0.5}}}) {
        const auto reply = call(method, arguments);
        EXPECT_EQ(reply.errorName(), dbus::kErrorUnknownApplication) << method.toStdString();
        EXPECT_TRUE(reply.errorMessage().contains(arguments.at(0).toString()));
    }
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);
    EXPECT_EQ(world_.model->settings().size(), 2U);
}

TEST_F(MixerServiceTest, RememberedApplicationsThatAreNotListedCanBeChanged) {
    const auto reply = call(QStringLiteral("SetVolume"), {"pid:999", 0.75});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(world_.model->setting("pid:999").volume, 0.75);
    EXPECT_TRUE(world_.model->setting("pid:999").muted);
    const auto reset = call(QStringLiteral("Reset"), {"pid:999"});
    ASSERT_EQ(reset.type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(applicationOf(reset).value("hasSetting").toBool());
    EXPECT_FALSE(world_.model->settings().contains("pid:999"));
    EXPECT_EQ(call(QStringLiteral("Reset"), {"pid:999"}).errorName(),
              dbus::kErrorUnknownApplication)
        << "once forgotten it is unknown";
}

struct StepCase {
    double start;
    double delta;
    double result;
};

class StepVolumeTest : public ControlTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(StepVolumeTest, StepsFromTheCurrentVolumeWithinTheRange) {
    const auto [start, delta, result] = GetParam();
    world_.model->setVolume(start, "org.mozilla.firefox");
    const auto reply = call(QStringLiteral("StepVolume"), {"org.mozilla.firefox", delta});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_NEAR(applicationOf(reply).value("volume").toDouble(), result, 1e-12);
    EXPECT_NEAR(world_.model->setting("org.mozilla.firefox").volume, result, 1e-12);
    EXPECT_NEAR(levelOf("Firefox"), static_cast<float>(result), 1e-5);
}

INSTANTIATE_TEST_SUITE_P(Steps, StepVolumeTest,
                         ::testing::Values(StepCase{1.0, 0.25, 1.25}, StepCase{1.0, -0.05, 0.95},
                                           StepCase{3.9, 0.5, 4.0}, StepCase{0.1, -5.0, 0.0},
                                           StepCase{2.0, 0.0, 2.0}));

TEST_F(MixerServiceTest, StepsFromARememberedVolumeOutOfRangeStartAtTheMaximum) {
    world_.store.setData(QStringLiteral("appSettings"),
                         R"({"org.mozilla.firefox":{"volume":9.0,"muted":false}})");
    service_.reset();
    world_.model.reset();
    world_.start();
    service_ = std::make_unique<MixerService>(*world_.model, [] {});
    ASSERT_TRUE(service_->registerOn(serviceBus_));
    const auto reply = call(QStringLiteral("StepVolume"), {"org.mozilla.firefox", 0.1});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(applicationOf(reply).value("volume").toDouble(), 4.0);
    const auto down = call(QStringLiteral("StepVolume"), {"org.mozilla.firefox", -0.5});
    EXPECT_EQ(applicationOf(down).value("volume").toDouble(), 3.5);
}

TEST_F(MixerServiceTest, MuteSwitchesKeepTheVolumeAndSilenceTheApplication) {
    call(QStringLiteral("SetVolume"), {"org.mozilla.firefox", 2.0});
    for (int round = 0; round < 2; ++round) {
        const auto reply = call(QStringLiteral("SetMute"), {"org.mozilla.firefox", true});
        EXPECT_TRUE(applicationOf(reply).value("muted").toBool()) << "setting twice stays muted";
        EXPECT_EQ(levelOf("Firefox"), 0.0F);
    }
    call(QStringLiteral("StepVolume"), {"org.mozilla.firefox", 0.5});
    EXPECT_EQ(levelOf("Firefox"), 0.0F) << "a volume change does not unmute";
    EXPECT_TRUE(stored().value("org.mozilla.firefox").toObject().value("muted").toBool());

    const auto toggled = call(QStringLiteral("ToggleMute"), {"org.mozilla.firefox"});
    EXPECT_FALSE(applicationOf(toggled).value("muted").toBool());
    EXPECT_NEAR(levelOf("Firefox"), 2.5F, 1e-5);
    call(QStringLiteral("SetMute"), {"org.mozilla.firefox", false});
    EXPECT_NEAR(levelOf("Firefox"), 2.5F, 1e-5)
        << "unmuting an unmuted application changes nothing";

    const auto reset = call(QStringLiteral("Reset"), {"org.mozilla.firefox"});
    EXPECT_EQ(applicationOf(reset).value("volume").toDouble(), 1.0);
    EXPECT_TRUE(world_.hardware.aggregates().empty());
    EXPECT_FALSE(stored().contains("org.mozilla.firefox"));
}

TEST_F(MixerServiceTest, WrongArgumentTypesAreRefused) {
    for (const auto& [method, arguments] : std::vector<std::pair<QString, QVariantList>>{
             {"SetVolume", {"org.mozilla.firefox", QStringLiteral("150%")}},
             {"SetVolume", {"org.mozilla.firefox"}},
             {"SetMute", {"org.mozilla.firefox", 1}},
             {"SelectOutput", {QStringLiteral("Speakers")}},
             {"ListApplications", {1}}}) {
        const auto reply = call(method, arguments);
        EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.InvalidArgs")
            << method.toStdString();
    }
    EXPECT_EQ(call(QStringLiteral("Explode")).errorName(),
              "org.freedesktop.DBus.Error.UnknownMethod");
    EXPECT_EQ(world_.store.writeCount(), initialWrites_);
}

TEST_F(MixerServiceTest, SelectsKnownOutputsOnly) {
    const auto reply = call(QStringLiteral("SelectOutput"), {uint{headphones_}});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments().at(0).toUInt(), headphones_);
    EXPECT_EQ(reply.arguments().at(1).toString(), "Headphones");
    const auto current = call(QStringLiteral("CurrentOutput"));
    EXPECT_EQ(current.arguments().at(0).toUInt(), headphones_);

    const auto unknown = call(QStringLiteral("SelectOutput"), {uint{4242}});
    EXPECT_EQ(unknown.errorName(), dbus::kErrorUnknownOutput);
    EXPECT_EQ(world_.model->outputID(), headphones_);

    QList<BusOutput> outputs;
    call(QStringLiteral("ListOutputs")).arguments().at(0).value<QDBusArgument>() >> outputs;
    EXPECT_EQ(outputs,
              (QList<BusOutput>{{world_.speakers, "Speakers"}, {headphones_, "Headphones"}}));
}

TEST_F(MixerServiceTest, CallsWithoutAnInterfaceNameReachTheMixerAndTheStandardInterfaces) {
    const auto untargeted = [&](const QString& member) {
        const auto message = QDBusMessage::createMethodCall(QString::fromLatin1(dbus::kServiceName),
                                                            QString::fromLatin1(dbus::kMixerPath),
                                                            QString(), member);
        return clientBus_.call(message, QDBus::BlockWithGui, 5000);
    };
    EXPECT_EQ(untargeted(QStringLiteral("ListApplications")).signature(), "aa{sv}");
    const auto introspection = untargeted(QStringLiteral("Introspect"));
    ASSERT_EQ(introspection.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(introspection.arguments().at(0).toString().contains(dbus::kMixerInterface));
}

TEST_F(MixerServiceTest, ShowWindowOpensTheWindow) {
    EXPECT_EQ(call(QStringLiteral("ShowWindow")).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(windowShown_, 1);
}

TEST_F(MixerServiceTest, LastErrorReportsAFailedChange) {
    EXPECT_EQ(call(QStringLiteral("LastError")).arguments().at(0).toString(), "");
    world_.hardware.setCallFailure(SimCall::createProcessTap, -50);
    call(QStringLiteral("SetVolume"), {"org.mozilla.firefox", 0.5});
    const auto message = call(QStringLiteral("LastError")).arguments().at(0).toString();
    EXPECT_TRUE(message.startsWith("Firefox: ")) << message.toStdString();
}

class MixerSignalsTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        const auto service = QString::fromLatin1(dbus::kServiceName);
        const auto path = QString::fromLatin1(dbus::kMixerPath);
        const auto interface = QString::fromLatin1(dbus::kMixerInterface);
        ASSERT_TRUE(clientBus_.connect(service, path, interface, "ApplicationsChanged", &log_,
                                       SLOT(onApplicationsChanged())));
        ASSERT_TRUE(clientBus_.connect(service, path, interface, "SettingsChanged", &log_,
                                       SLOT(onSettingsChanged())));
        ASSERT_TRUE(clientBus_.connect(service, path, interface, "OutputsChanged", &log_,
                                       SLOT(onOutputsChanged())));
        ASSERT_TRUE(clientBus_.connect(service, path, interface, "OutputChanged", &log_,
                                       SLOT(onOutputChanged(uint, QString))));
        spin(100ms);
    }

    SignalLog log_;
};

TEST_F(MixerSignalsTest, RefreshesThatChangeNothingAreNotSignalled) {
    for (int i = 0; i < 5; ++i) {
        world_.model->refresh();
    }
    spin(300ms);
    EXPECT_EQ(log_.applications, 0);
    EXPECT_EQ(log_.settings, 0);
    EXPECT_EQ(log_.outputs, 0);
    EXPECT_TRUE(log_.outputChanges.empty());
}

TEST_F(MixerSignalsTest, ChangesThroughAnyPathAreSignalledOnce) {
    call(QStringLiteral("SetVolume"), {"org.mozilla.firefox", 0.5});
    ASSERT_TRUE(waitFor([&] { return log_.settings == 1 && log_.applications == 1; }));
    world_.model->toggleMute("org.example.Music"); // as the panel would
    ASSERT_TRUE(waitFor([&] { return log_.settings == 2 && log_.applications == 2; }));

    world_.hardware.setRunningOutput(world_.model->apps().front().processObjects.front(), false);
    world_.refresh();
    ASSERT_TRUE(waitFor([&] { return log_.applications == 3; })) << "playing state";
    spin(200ms);
    EXPECT_EQ(log_.applications, 3);
    EXPECT_EQ(log_.settings, 2);
}

TEST_F(MixerSignalsTest, OutputChangesAreSignalledWithTheNewDevice) {
    world_.hardware.setDefaultOutput(headphones_);
    ASSERT_TRUE(waitFor([&] { return !log_.outputChanges.empty(); }));
    EXPECT_EQ(log_.outputChanges.back(), (std::pair<uint, QString>{headphones_, "Headphones"}));
    world_.hardware.addDevice({.uid = "hdmi", .name = "HDMI"});
    world_.refresh();
    ASSERT_TRUE(waitFor([&] { return log_.outputs == 1; }));
    spin(200ms);
    EXPECT_EQ(log_.outputChanges.size(), 1U);
    EXPECT_EQ(log_.outputs, 1);
}

} // namespace
} // namespace corvalle::test
