#include "DesktopFixture.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>

namespace corvalle::test {

namespace {

void writeText(const std::filesystem::path& file, const std::string& contents) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << contents;
}

constexpr std::array<std::string_view, 12> kWords = {
    "Music",  "Video Player", "Browser", "Chat",     "Podcasts", "Radio",
    "Editor", "Meetings",     "Games",   "Recorder", "Synth",    "Notes"};
constexpr std::array<std::string_view, 12> kGermanWords = {
    "Musik",  "Videowiedergabe", "Browser", "Unterhaltung", "Podcasts",    "Radio",
    "Editor", "Besprechungen",   "Spiele",  "Aufnahme",     "Synthesizer", "Notizen"};

} // namespace

void writeDesktopEntries(const std::filesystem::path& applicationsDir, int count) {
    std::filesystem::create_directories(applicationsDir);
    for (int i = 0; i < count; ++i) {
        std::array<char, 16> digits{};
        std::snprintf(digits.data(), digits.size(), "%03d", i);
        const std::string number = digits.data();
        const std::string program = "app-" + number;
        const std::string execs[] = {program + " %U", "/usr/bin/" + program + " --new-window %u",
                                     "\"/opt/App " + number + "/" + program + "\" %F",
                                     "env GDK_BACKEND=x11 " + program,
                                     "/usr/lib/" + program + "/" + program + " --no-sandbox %f"};
        const auto word = static_cast<std::size_t>(i) % kWords.size();
        std::ostringstream entry;
        entry << "[Desktop Entry]\nType=Application\nVersion=1.5\nName=" << kWords[word] << ' ' << i
              << "\nName[de]=" << kGermanWords[word] << ' ' << i
              << "\nGenericName=Application\nComment=Test application number " << i
              << "\nIcon=" << (i % 7 == 0 ? "/usr/share/pixmaps/" + program + ".png" : program)
              << "\nExec=" << execs[i % 5] << "\nTerminal=false\nCategories=AudioVideo;Audio;\n"
              << (i % 3 == 0 ? "StartupWMClass=App" + number + "\n" : "")
              << (i % 10 == 9 ? "NoDisplay=true\n" : "")
              << "\n[Desktop Action new-window]\nName=New Window\nExec=" << program
              << " --new-window\n";
        writeText(applicationsDir / (program + ".desktop"), entry.str());
    }
}

void writeProcEntry(const std::filesystem::path& procRoot, const FakeProcess& process) {
    const auto dir = procRoot / std::to_string(process.pid);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::filesystem::create_directories(dir);

    const unsigned long long startTime =
        process.startTime != 0 ? process.startTime : 1000ULL + static_cast<unsigned>(process.pid);
    std::ostringstream stat;
    stat << process.pid << " (" << process.comm << ") S " << process.ppid << ' ' << process.pid
         << ' ' << process.pid << " 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 4 0 " << startTime
         << " 123456789 2048 18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 1 0 0 0 0 0\n";
    writeText(dir / "stat", stat.str());

    const std::string ids = std::to_string(process.uid);
    const std::string fourIDs = ids + '\t' + ids + '\t' + ids + '\t' + ids + '\n';
    writeText(dir / "status", "Name:\t" + process.comm + "\nState:\tS (sleeping)\nTgid:\t" +
                                  std::to_string(process.pid) + "\nPid:\t" +
                                  std::to_string(process.pid) + "\nPPid:\t" +
                                  std::to_string(process.ppid) + "\nUid:\t" + fourIDs + "Gid:\t" +
                                  fourIDs);
    writeText(dir / "comm", process.comm + "\n");

    std::string cmdline;
    for (const auto& arg : process.argv.empty() ? std::vector{process.exe} : process.argv) {
        cmdline += arg + '\0';
    }
    writeText(dir / "cmdline", cmdline);
    std::string cgroup;
    for (const auto& line : process.cgroups) {
        cgroup += line + "\n";
    }
    writeText(dir / "cgroup", cgroup);

    if (!process.exe.empty()) {
        std::filesystem::create_symlink(process.exe, dir / "exe");
    }
    if (!process.cwd.empty()) {
        std::filesystem::create_symlink(process.cwd, dir / "cwd");
    }
    if (!process.flatpakInfo.empty()) {
        writeText(dir / "root" / ".flatpak-info", process.flatpakInfo);
    }
}

} // namespace corvalle::test
