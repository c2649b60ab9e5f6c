#include "DemoWorld.h"

#include "AppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "SimulatedAudioHardware.h"

#include <QFileInfo>
#include <QString>
#include <array>

namespace corvalle {

namespace {

// Far above any pid_max, so a demo process never shares a PID with a real one.
constexpr pid_t kFirstDemoPID = 5'000'001;

struct DemoApp {
    const char* bundleID;
    const char* name;
    const char* icon;
};

constexpr std::array kDemoApps{
    DemoApp{"org.corvalle.demo.Browser", "Web Browser", "applications-internet"},
    DemoApp{"org.corvalle.demo.Music", "Music", "multimedia-player"},
    DemoApp{"org.corvalle.demo.Video", "Video Player", "camera-video"},
    DemoApp{"org.corvalle.demo.Chat", "Chat", ""}, // shows the fallback symbol
    DemoApp{"org.corvalle.demo.Game", "Game", "applications-games"},
    DemoApp{"org.corvalle.demo.Radio", "Radio", "media-tape"},
};

QString demoBundleID(int index) {
    if (index < static_cast<int>(kDemoApps.size())) {
        return QString::fromLatin1(kDemoApps[static_cast<std::size_t>(index)].bundleID);
    }
    return QStringLiteral("org.corvalle.demo.App%1").arg(index + 1);
}

QString demoName(int index) {
    if (index < static_cast<int>(kDemoApps.size())) {
        return QString::fromLatin1(kDemoApps[static_cast<std::size_t>(index)].name);
    }
    return QStringLiteral("Demo App %1").arg(index + 1);
}

// The common desktop theme's full-colour picture when it is installed (a bare
// window system names no icon theme), else the theme name.
QString iconNamed(const QString& name) {
    const QString legacy = QStringLiteral("/usr/share/icons/Adwaita/48x48/legacy/%1.png").arg(name);
    return QFileInfo::exists(legacy) ? legacy : name;
}

std::optional<QString> demoIcon(int index) {
    if (index < static_cast<int>(kDemoApps.size()) &&
        *kDemoApps[static_cast<std::size_t>(index)].icon) {
        return iconNamed(QString::fromLatin1(kDemoApps[static_cast<std::size_t>(index)].icon));
    }
    return std::nullopt;
}

class DemoDirectory final : public AppDirectory {
public:
    explicit DemoDirectory(int count) : count_(count) {}

    std::optional<RunningApplication> runningApplication(pid_t pid) override {
        const int index = pid - kFirstDemoPID;
        if (index < 0 || index >= count_) {
            return std::nullopt;
        }
        return RunningApplication{demoBundleID(index), demoName(index), demoIcon(index)};
    }

    std::optional<InstalledApplication> installedApplication(const QString& bundleID) override {
        if (bundleID == QLatin1String("org.corvalle.demo.Podcasts")) {
            return InstalledApplication{QStringLiteral("Podcasts"),
                                        iconNamed(QStringLiteral("media-record"))};
        }
        return std::nullopt;
    }

private:
    int count_;
};

} // namespace

std::unique_ptr<AudioHardware> makeDemoHardware(int count) {
    auto hardware = std::make_unique<SimulatedAudioHardware>(qtMainThreadPoster());
    const AudioObjectID speakers =
        hardware->addDevice({.uid = "demo-speakers", .name = "Built-in Speakers"});
    hardware->addDevice({.uid = "demo-headphones", .name = "USB Headphones"});
    hardware->addDevice({.uid = "demo-hdmi", .name = "HDMI Display"});
    hardware->setDefaultOutput(speakers);
    for (int i = 0; i < count; ++i) {
        hardware->addProcess({kFirstDemoPID + i, std::nullopt, true});
    }
    return hardware;
}

std::unique_ptr<AppDirectory> makeDemoDirectory(int count) {
    return std::make_unique<DemoDirectory>(count);
}

std::unique_ptr<SettingsStore> makeDemoSettings() {
    auto store = std::make_unique<MemorySettingsStore>();
    store->setData(
        QStringLiteral("appSettings"),
        R"({"org.corvalle.demo.Browser":{"volume":1.5,"muted":false,"name":"Web Browser"},)"
        R"("org.corvalle.demo.Music":{"volume":0.8,"muted":true,"name":"Music"},)"
        R"("org.corvalle.demo.Podcasts":{"volume":0.45,"muted":false,"name":"Podcasts"}})");
    return store;
}

} // namespace corvalle
