#include "ControlFixture.h"

#include "AppTap.h"
#include "BufferLists.h"
#include "CommandLine.h"
#include "DBusNames.h"

#include <QJsonDocument>
#include <QTextStream>

namespace corvalle::test {

void ControlTest::SetUp() {
    ASSERT_FALSE(bus_.address.isEmpty()) << "dbus-daemon could not be started";
    serviceBus_ = bus_.connect(QStringLiteral("control-service"));
    clientBus_ = bus_.connect(QStringLiteral("control-client"));
    ASSERT_TRUE(serviceBus_.isConnected() && clientBus_.isConnected());

    headphones_ = world_.hardware.addDevice({.uid = "headphones", .name = "Headphones"});
    world_.store.setData(QStringLiteral("appSettings"),
                         R"({"org.example.Old":{"volume":0.5,"muted":false,"name":"Old Player"},)"
                         R"("pid:999":{"volume":0.25,"muted":true}})");
    world_.addApp(100, QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox"), true);
    world_.addApp(200, QStringLiteral("org.example.Music"), QStringLiteral("Music"), true);
    world_.start();
    initialWrites_ = world_.store.writeCount();

    service_ = std::make_unique<MixerService>(*world_.model, [this] { ++windowShown_; });
    ASSERT_TRUE(service_->registerOn(serviceBus_));
    ASSERT_TRUE(serviceBus_.registerService(QString::fromLatin1(dbus::kServiceName)));
}

QDBusMessage ControlTest::call(const QString& method, const QVariantList& arguments) {
    auto message = QDBusMessage::createMethodCall(
        QString::fromLatin1(dbus::kServiceName), QString::fromLatin1(dbus::kMixerPath),
        QString::fromLatin1(dbus::kMixerInterface), method);
    message.setArguments(arguments);
    return clientBus_.call(message, QDBus::BlockWithGui, 5000);
}

int ControlTest::run(const QStringList& arguments) {
    out_.clear();
    err_.clear();
    QTextStream out(&out_);
    QTextStream err(&err_);
    return runCommandLine(arguments, clientBus_, out, err);
}

QJsonObject ControlTest::outJson() const {
    return QJsonDocument::fromJson(out_.toUtf8()).object();
}

float ControlTest::levelOf(const std::string& name) {
    const auto label = std::string(AppTap::kNamePrefix) + name;
    for (const auto& [id, aggregate] : world_.hardware.aggregates()) {
        if (aggregate.description.name == label) {
            BufferList input;
            input.add(2, 8, 0.1F);
            BufferList output;
            output.add(2, 8);
            // The second cycle runs at the gain the first one ramped to.
            world_.hardware.runIOCycle(id, input.list(), output.list());
            world_.hardware.runIOCycle(id, input.list(), output.list());
            return output.at(0, 7, 0) / 0.1F;
        }
    }
    return 1.0F;
}

QJsonObject ControlTest::stored() const {
    const auto bytes = world_.store.data(QStringLiteral("appSettings"));
    return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
}

} // namespace corvalle::test
