#include "TempDir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace corvalle::test {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "corvalle-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::writeFile(const std::filesystem::path& relative,
                                         const std::string& contents) const {
    const auto full = path_ / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << contents;
    return full;
}

} // namespace corvalle::test
