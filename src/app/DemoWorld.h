#pragma once

#include "LoginItem.h"

#include <memory>

namespace corvalle {

class AppDirectory;
class AudioHardware;
class SettingsStore;

// The demo of --simulate: a simulated audio system with three outputs and
// `count` playing applications, a directory that names them, and settings that
// show every kind of row (one boosted, one muted, one remembered app that is not
// running).
std::unique_ptr<AudioHardware> makeDemoHardware(int count);
std::unique_ptr<AppDirectory> makeDemoDirectory(int count);
std::unique_ptr<SettingsStore> makeDemoSettings();

// A login item that only remembers the switch while the program runs.
class MemoryLoginItem final : public LoginItem {
public:
    int status() const override { return registered_ ? 1 : 0; }
    bool registerItem() override {
        registered_ = true;
        return true;
    }
    bool unregisterItem() override {
        registered_ = false;
        return true;
    }

private:
    bool registered_ = false;
};

} // namespace corvalle
