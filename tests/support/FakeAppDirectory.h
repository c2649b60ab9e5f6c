#pragma once

#include "AppDirectory.h"

#include <map>

namespace corvalle::test {

// An application directory answered from two tables the test fills in.
class FakeAppDirectory final : public AppDirectory {
public:
    std::map<pid_t, RunningApplication> running;
    std::map<QString, InstalledApplication> installed;

    std::optional<RunningApplication> runningApplication(pid_t pid) override {
        const auto it = running.find(pid);
        return it == running.end() ? std::nullopt : std::optional(it->second);
    }

    std::optional<InstalledApplication> installedApplication(const QString& bundleID) override {
        const auto it = installed.find(bundleID);
        return it == installed.end() ? std::nullopt : std::optional(it->second);
    }

    std::vector<std::pair<QString, InstalledApplication>> installedApplications() override {
        return {installed.begin(), installed.end()};
    }
};

} // namespace corvalle::test
