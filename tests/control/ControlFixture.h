#pragma once

#include "MixerService.h"
#include "ModelHarness.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonObject>
#include <QObject>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace corvalle::test {

// The mixer's change signals as a client of the bus counts them.
class SignalLog : public QObject {
    Q_OBJECT

public:
    int applications = 0;
    int settings = 0;
    int outputs = 0;
    std::vector<double> loweredLevels;

public slots:
    void onApplicationsChanged() { ++applications; }
    void onSettingsChanged() { ++settings; }
    void onOutputsChanged() { ++outputs; }
    void onLoweredLevelChanged(double level) { loweredLevels.push_back(level); }
};

// A model on the simulated audio system, served by MixerService on a private
// session bus, and a second connection to that bus that plays the client.
// Applications: Firefox and Music (playing), Old Player (remembered at 50 %, not
// running) and pid:999 (remembered muted at 25 %, never listed). Outputs: Speakers
// (the default) and Headphones.
class ControlTest : public ::testing::Test {
protected:
    void SetUp() override;

    QDBusMessage call(const QString& method, const QVariantList& arguments = {});
    // Runs the command line in this process against the private bus.
    int run(const QStringList& arguments);
    QJsonObject outJson() const;
    // The gain the tap for application `name` applies; 1 without a tap.
    float levelOf(const std::string& name);
    // The settings store's JSON, keyed by application.
    QJsonObject stored() const;
    bool storeUntouched() const { return world_.store.writeCount() == initialWrites_; }

    PrivateBus bus_;
    ModelHarness world_;
    std::unique_ptr<MixerService> service_;
    QDBusConnection serviceBus_{QString()};
    QDBusConnection clientBus_{QString()};
    AudioObjectID headphones_ = kAudioObjectUnknown;
    int windowShown_ = 0;
    int initialWrites_ = 0;
    QString out_;
    QString err_;
};

} // namespace corvalle::test
