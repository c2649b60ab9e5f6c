#pragma once

#include "ControlBus.h"
#include "MixerService.h"
#include "ModelHarness.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonObject>
#include <QObject>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace corvalle::test {

// The mixer's signals as a client of the bus receives them.
class SignalLog : public QObject {
    Q_OBJECT

public:
    int applications = 0;
    int settings = 0;
    int outputs = 0;
    std::vector<std::pair<uint, QString>> outputChanges;

public slots:
    void onApplicationsChanged() { ++applications; }
    void onSettingsChanged() { ++settings; }
    void onOutputsChanged() { ++outputs; }
    void onOutputChanged(uint id, const QString& name) { outputChanges.emplace_back(id, name); }
};

// Runs the event loop until `done` holds or `timeout` passes; returns `done()`.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Runs the event loop for `duration`.
void spin(std::chrono::milliseconds duration);

// A model on the simulated audio system, served by MixerService on a private
// session bus, and a second connection to that bus that plays the client.
// Applications: Firefox (playing), Music (playing), Old Player (remembered at 50 %,
// not running) and pid:999 (remembered, never listed). Outputs: Speakers (the
// default) and Headphones.
class ControlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QDBusMessage call(const QString& method, const QVariantList& arguments = {});
    // Runs the command line in this process against the private bus.
    int run(const QStringList& arguments);
    // The parsed JSON of the last run's standard output.
    QJsonObject outJson() const;

    // What reaches the output device for `name` as a factor of its own level: 1
    // without a tap, else the gain the tap's IO cycle applies.
    float levelOf(const std::string& name);
    // The settings store's JSON, keyed by application.
    QJsonObject stored() const;

    PrivateSessionBus bus_;
    ModelHarness world_;
    std::unique_ptr<MixerService> service_;
    QDBusConnection serviceBus_{QString()};
    QDBusConnection clientBus_{QString()};
    AudioObjectID headphones_ = kAudioObjectUnknown;
    int windowShown_ = 0;
    // Writes to the store before the test began (the fixture's own settings).
    int initialWrites_ = 0;
    QString out_;
    QString err_;

private:
    QString serviceName_;
    QString clientName_;
};

} // namespace corvalle::test
