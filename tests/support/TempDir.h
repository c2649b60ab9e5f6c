#pragma once

#include <filesystem>

namespace corvalle::test {

// A fresh directory under the system temp folder, removed with everything in it
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes `contents` to `relative`, creating parent folders.
    std::filesystem::path writeFile(const std::filesystem::path& relative,
                                    const std::string& contents) const;

private:
    std::filesystem::path path_;
};

} // namespace corvalle::test
