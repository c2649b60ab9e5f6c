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
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::string threeDigits(int i) {
    std::array<char, 16> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%03d", i);
    return buffer.data();
}

constexpr std::array<std::string_view, 12> kWords = {
    "Music",  "Video Player", "Browser", "Chat",     "Podcasts", "Radio",
    "Editor", "Meetings",     "Games",   "Recorder", "Synth",    "Notes"};
constexpr std::array<std::string_view, 12> kGermanWords = {
    "Musik",  "Videowiedergabe", "Browser", "Unterhaltung", "Podcasts",    "Radio",
    "Editor", "Besprechungen",   "Spiele",  "Aufnahme",     "Synthesizer", "Notizen"};

std::string execLine(int i, const std::string& program) {
    switch (i % 5) {
    case 0:
        return program + " %U";
    case 1:
        return "/usr/bin/" + program + " --new-window %u";
    case 2:
        return "\"/opt/App " + threeDigits(i) + "/" + program + "\" %F";
    case 3:
        return "env GDK_BACKEND=x11 " + program;
    default:
        return "/usr/lib/" + program + "/" + program + " --no-sandbox %f";
    }
}

} // namespace

void writeDesktopEntries(const std::filesystem::path& applicationsDir, int count) {
    std::filesystem::create_directories(applicationsDir);
    for (int i = 0; i < count; ++i) {
        const std::string number = threeDigits(i);
        const std::string program = "app-" + number;
        const auto word = static_cast<std::size_t>(i) % kWords.size();
        std::ostringstream entry;
        entry << "[Desktop Entry]\n"
              << "Type=Application\n"
              << "Version=1.5\n"
              << "Name=" << kWords[word] << ' ' << i << '\n'
              << "Name[de]=" << kGermanWords[word] << ' ' << i << '\n'
              << "GenericName=Application\n"
              << "Comment=Test application number " << i << '\n';
        if (i % 7 == 0) {
            entry << "Icon=/usr/share/pixmaps/" << program << ".png\n";
        } else {
            entry << "Icon=" << program << '\n';
        }
        entry << "Exec=" << execLine(i, program) << '\n'
              << "Terminal=false\n"
              << "Categories=AudioVideo;Audio;\n";
        if (i % 3 == 0) {
            entry << "StartupWMClass=App" << number << '\n';
        }
        if (i % 10 == 9) {
            entry << "NoDisplay=true\n";
        }
        entry << "\n[Desktop Action new-window]\nName=New Window\nExec=" << program
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

    std::ostringstream status;
    status << "Name:\t" << process.comm << "\nState:\tS (sleeping)\nTgid:\t" << process.pid
           << "\nPid:\t" << process.pid << "\nPPid:\t" << process.ppid << "\nUid:\t" << process.uid
           << '\t' << process.uid << '\t' << process.uid << '\t' << process.uid << "\nGid:\t"
           << process.uid << '\t' << process.uid << '\t' << process.uid << '\t' << process.uid
           << '\n';
    writeText(dir / "status", status.str());
    writeText(dir / "comm", process.comm + "\n");

    std::string cmdline;
    const std::vector<std::string> argv =
        process.argv.empty() ? std::vector<std::string>{process.exe} : process.argv;
    for (const auto& arg : argv) {
        cmdline += arg;
        cmdline.push_back('\0');
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
    if (!process.flatpakInfo.empty()) {
        writeText(dir / "root" / ".flatpak-info", process.flatpakInfo);
    }
}

void writeProcEntry(const std::filesystem::path& procRoot, pid_t pid, const std::string& comm,
                    const std::string& exe, const std::string& cgroupLine) {
    FakeProcess process;
    process.pid = pid;
    process.comm = comm;
    process.exe = exe;
    if (!cgroupLine.empty()) {
        process.cgroups.push_back(cgroupLine);
    }
    writeProcEntry(procRoot, process);
}

void removeProcEntry(const std::filesystem::path& procRoot, pid_t pid) {
    std::error_code ignored;
    std::filesystem::remove_all(procRoot / std::to_string(pid), ignored);
}

} // namespace corvalle::test
