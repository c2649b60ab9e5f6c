// Holds taps for the crash test: builds the backend and the model, turns the
// given applications down to 50 % and writes the ready file once all are
// tapped. Then it waits to be killed.
//
//   pipewire-tap-holder READY-FILE KEY...
#include "DesktopAppDirectory.h"
#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "MixerModel.h"
#include "PipeWireAudioHardware.h"

#include <QCoreApplication>
#include <QTimer>
#include <fstream>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc < 3) {
        return 2;
    }
    const std::string readyFile = argv[1];
    corvalle::PipeWireAudioHardware hardware(corvalle::qtMainThreadPoster());
    if (!hardware.waitUntilConnected(5000)) {
        return 1;
    }
    corvalle::MemorySettingsStore store;
    corvalle::DesktopAppDirectory directory;
    corvalle::MixerEnvironment env;
    env.hardware = &hardware;
    env.store = &store;
    env.directory = &directory;
    corvalle::MixerModel model(env);
    QStringList keys;
    for (int i = 2; i < argc; ++i) {
        keys << QString::fromLocal8Bit(argv[i]);
        model.setVolume(0.5, keys.back());
    }
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        for (const QString& key : keys) {
            if (!model.hasTap(key)) {
                return;
            }
        }
        std::ofstream(readyFile) << "tapped\n";
        check.stop();
    });
    check.start(20);
    return QCoreApplication::exec();
}
