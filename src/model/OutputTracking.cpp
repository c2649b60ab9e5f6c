#include "CA.h"
#include "MixerModel.h"

namespace corvalle {

void MixerModel::refreshOutput() {
    AudioHardware& hardware = *env_.hardware;
    const AudioObjectID device = CA::defaultOutputDevice(hardware);
    const auto name = CA::deviceName(hardware, device);
    outputName_ = name ? QString::fromStdString(*name) : tr("Unknown");
    emit outputNameChanged();
    outputID_ = device;
    emit outputIDChanged();

    const std::vector<AudioObjectID> deviceIDs = CA::outputDevices(hardware);
    // Names alone never replace the list: the picker keeps what it shows until the
    // set or order of devices changes.
    if (knowsOutputs(deviceIDs)) {
        return;
    }
    std::vector<OutputDevice> devices;
    devices.reserve(deviceIDs.size());
    for (const AudioObjectID id : deviceIDs) {
        const auto deviceName = CA::deviceName(hardware, id);
        const auto uid = CA::deviceUID(hardware, id);
        devices.push_back(
            {id, deviceName ? QString::fromStdString(*deviceName) : tr("Device %1").arg(id),
             uid ? QString::fromStdString(*uid) : QString()});
    }
    outputDevices_ = std::move(devices);
    emit outputDevicesChanged();
}

bool MixerModel::knowsOutputs(const std::vector<AudioObjectID>& deviceIDs) const {
    return std::ranges::equal(deviceIDs, outputDevices_, {}, {},
                              [](const OutputDevice& known) { return known.id; });
}

} // namespace corvalle
