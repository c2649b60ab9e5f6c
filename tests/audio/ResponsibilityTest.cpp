#include "Responsibility.h"

#include "TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace corvalle {
namespace {

// --- a process tree in files -------------------------------------------------------

struct FakeProcess {
    pid_t pid;
    pid_t parent;
    std::string comm = "proc";
    std::string exe; // empty: no exe link (unreadable)
    std::string cgroup = "0::/user.slice/user-1000.slice/session-2.scope";
    uid_t uid = 1000;
};

class ProcTree {
public:
    void add(const FakeProcess& p) {
        const auto dir = std::to_string(p.pid);
        std::ostringstream stat;
        stat << p.pid << " (" << p.comm << ") S " << p.parent << " " << p.pid
             << " 0 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 100 0 0";
        root_.writeFile(dir + "/stat", stat.str());
        root_.writeFile(dir + "/status", "Name:\t" + p.comm + "\nUmask:\t0022\nState:\tS\nPPid:\t" +
                                             std::to_string(p.parent) + "\nUid:\t" +
                                             std::to_string(p.uid) + "\t" + std::to_string(p.uid) +
                                             "\t0\t0\nGid:\t0\t0\t0\t0\n");
        root_.writeFile(dir + "/cgroup", p.cgroup + "\n");
        if (!p.exe.empty()) {
            std::filesystem::create_symlink(p.exe, root_.path() / dir / "exe");
        }
    }
    void addRaw(pid_t pid, const std::string& file, const std::string& contents) {
        root_.writeFile(std::to_string(pid) + "/" + file, contents);
    }
    const std::filesystem::path& root() const { return root_.path(); }

private:
    test::TempDir root_;
};

constexpr const char* kBash = "/usr/bin/bash";
constexpr const char* kFirefox = "/usr/lib/firefox/firefox";
constexpr const char* kSystemd = "/usr/lib/systemd/systemd";
constexpr const char* kScope =
    "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-foo-700.scope";

struct TreeCase {
    const char* name;
    std::vector<FakeProcess> processes;
    pid_t asked;
    pid_t expected;
};

class ProcessTree : public ::testing::TestWithParam<TreeCase> {};

TEST_P(ProcessTree, FindsTheResponsibleProcess) {
    ProcTree tree;
    for (const auto& p : GetParam().processes) {
        tree.add(p);
    }
    const ProcessTreeResponsibility responsibility(tree.root());
    EXPECT_EQ(responsibility.responsiblePID(GetParam().asked), GetParam().expected);
}

const FakeProcess kInit{1, 0, "systemd", kSystemd, "0::/init.scope", 0};
const FakeProcess kShell{100, 1, "bash", kBash};

INSTANTIATE_TEST_SUITE_P(
    Cases, ProcessTree,
    ::testing::Values(
        TreeCase{"SameProgramChainEndsAtItsTop",
                 {kInit,
                  kShell,
                  {200, 100, "firefox", kFirefox},
                  {300, 200, "Isolated Web Co", kFirefox},
                  {400, 300, "Web Content", kFirefox}},
                 400,
                 200},
        TreeCase{
            "TopOfTheChainIsItself", {kInit, kShell, {200, 100, "firefox", kFirefox}}, 200, 200},
        TreeCase{"AnotherProgramIsItsOwnApplication",
                 {kInit,
                  kShell,
                  {200, 100, "firefox", kFirefox},
                  {500, 200, "crashhelper", "/usr/lib/firefox/crashhelper"}},
                 500,
                 500},
        TreeCase{"ChainMustBeUnbroken",
                 {kInit,
                  {150, 1, "firefox", kFirefox},
                  {160, 150, "sh", "/usr/bin/sh"},
                  {170, 160, "firefox", kFirefox}},
                 170,
                 170},
        TreeCase{"NeverAnotherUser",
                 {kInit,
                  {600, 1, "firefox", kFirefox, kScope, 0},
                  {601, 600, "firefox", kFirefox, kScope, 1000}},
                 601,
                 601},
        TreeCase{"NeverProcessOne",
                 {kInit, {900, 1, "systemd", kSystemd, "0::/user.slice", 0}},
                 900,
                 900},
        TreeCase{"ScopeReachesItsTopAcrossPrograms",
                 {kInit,
                  {690, 1, "gnome-shell", "/usr/bin/gnome-shell",
                   "0::/user.slice/user-1000.slice/session-2.scope"},
                  {700, 690, "foo-launcher", "/usr/bin/sh", kScope},
                  {701, 700, "foo", "/usr/bin/foo", kScope},
                  {702, 701, "foo-helper", "/usr/lib/foo/helper", kScope}},
                 702,
                 700},
        TreeCase{"ScopeWinsOverTheSameProgram",
                 {kInit,
                  {800, 1, "firefox", kFirefox, "0::/app.slice/app-a.scope"},
                  {801, 800, "firefox", kFirefox, "0::/app.slice/app-b.scope"}},
                 801,
                 801},
        TreeCase{"ServiceUnitsAreScopesToo",
                 {kInit,
                  {810, 1, "term", "/usr/bin/term", "0::/app.slice/app-org.term.service"},
                  {811, 810, "helper", "/usr/bin/helper", "0::/app.slice/app-org.term.service"}},
                 811,
                 810},
        TreeCase{"FlatpakInstance",
                 {kInit,
                  {820, 1, "bwrap", "/usr/bin/bwrap",
                   "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                   "app-flatpak-org.example.Player-12345.scope"},
                  {821, 820, "player", "/app/bin/player",
                   "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                   "app-flatpak-org.example.Player-12345.scope"}},
                 821,
                 820},
        TreeCase{"LegacyHierarchy",
                 {kInit,
                  {830, 1, "a", "/usr/bin/a",
                   "12:pids:/x\n1:name=systemd:/user.slice/app.slice/app-a.scope"},
                  {831, 830, "b", "/usr/bin/b",
                   "12:pids:/x\n1:name=systemd:/user.slice/app.slice/app-a.scope"}},
                 831,
                 830},
        TreeCase{"SlicesAreNotScopes",
                 {kInit,
                  {840, 1, "a", "/usr/bin/a", "0::/user.slice/app.slice"},
                  {841, 840, "b", "/usr/bin/b", "0::/user.slice/app.slice"}},
                 841,
                 841},
        TreeCase{"ReplacedProgramIsTheSame",
                 {kInit,
                  kShell,
                  {200, 100, "app", "/usr/bin/app (deleted)"},
                  {210, 200, "app", "/usr/bin/app"}},
                 210,
                 200},
        TreeCase{
            "OddCommandNames",
            {kInit, kShell, {200, 100, "a) S 1 (b", kFirefox}, {201, 200, ") 1 1 1", kFirefox}},
            201,
            200},
        TreeCase{"DeadParentEndsTheWalk", {kInit, {300, 299, "firefox", kFirefox}}, 300, 300},
        TreeCase{"UnreadableExecutableIsItself",
                 {kInit, kShell, {200, 100, "x", ""}, {201, 200, "x", ""}},
                 201,
                 201},
        TreeCase{"MissingProcessIsItself", {kInit}, 4242, 4242},
        TreeCase{"LoopEnds",
                 {kInit, {1000, 1001, "x", kFirefox}, {1001, 1000, "x", kFirefox}},
                 1000,
                 1001}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ProcessTreeDamage, GarbledFilesMeanNoAnswer) {
    ProcTree tree;
    tree.add(kInit);
    tree.add({200, 1, "firefox", kFirefox});
    tree.addRaw(201, "stat", "201 firefox S 200");
    tree.addRaw(201, "status", "Uid:\t1000\n");
    tree.add({300, 200, "firefox", kFirefox});
    tree.addRaw(301, "stat", "301 (firefox) S 300 1");
    tree.addRaw(301, "status", "Name:\tfirefox\n");
    tree.add({400, 200, "firefox", kFirefox});
    tree.addRaw(401, "stat", "401 (firefox) S notanumber");
    tree.addRaw(401, "status", "Uid:\t1000\n");
    const ProcessTreeResponsibility responsibility(tree.root());
    EXPECT_EQ(responsibility.responsiblePID(201), 201) << "no closing parenthesis";
    EXPECT_EQ(responsibility.responsiblePID(301), 301) << "no Uid line";
    EXPECT_EQ(responsibility.responsiblePID(401), 401) << "no parent number";
    EXPECT_EQ(responsibility.responsiblePID(0), 0);
    EXPECT_EQ(responsibility.responsiblePID(-5), -5);
}

// --- the real process tree ---------------------------------------------------------

constexpr const char* kChainFlag = "--responsibility-chain";

bool inAppScope() {
    std::ifstream cgroup("/proc/self/cgroup");
    std::string line;
    while (std::getline(cgroup, line)) {
        if (line.find("/app-") != std::string::npos ||
            line.find("/flatpak-") != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string exeOf(pid_t pid) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
}

// Starts this test program as a chain of `depth` + 1 processes below this one; the
// last one reports its PID and then stays (as /bin/sleep when `becomeSleep`).
class ProcessChain {
public:
    ProcessChain(int depth, bool becomeSleep) {
        int fds[2];
        if (pipe(fds) != 0) {
            throw std::runtime_error("pipe");
        }
        head_ = fork();
        if (head_ == 0) {
            setpgid(0, 0);
            close(fds[0]);
            const std::string depthText = std::to_string(depth);
            const std::string fdText = std::to_string(fds[1]);
            execl("/proc/self/exe", "chain", kChainFlag, depthText.c_str(), fdText.c_str(),
                  becomeSleep ? "sleep" : "stay", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        setpgid(head_, head_);
        std::vector<pid_t> pids;
        pid_t pid = 0;
        while (read(fds[0], &pid, sizeof pid) == static_cast<ssize_t>(sizeof pid)) {
            pids.push_back(pid);
            if (static_cast<int>(pids.size()) == depth + 1) {
                break;
            }
        }
        close(fds[0]);
        pids_ = pids;
        if (becomeSleep && !pids_.empty()) {
            // The leaf reports before it turns into sleep; wait for the exec.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (exeOf(pids_.back()).find("sleep") == std::string::npos &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
    ~ProcessChain() {
        kill(-head_, SIGKILL);
        waitpid(head_, nullptr, 0);
    }
    ProcessChain(const ProcessChain&) = delete;
    ProcessChain& operator=(const ProcessChain&) = delete;

    // From the top of the chain down.
    const std::vector<pid_t>& pids() const { return pids_; }

private:
    pid_t head_ = 0;
    std::vector<pid_t> pids_;
};

// One link of the chain: report, start the next link, wait.
int runChainLink(int depth, int fd, const char* mode) {
    const pid_t self = getpid();
    if (write(fd, &self, sizeof self) != static_cast<ssize_t>(sizeof self)) {
        return 1;
    }
    if (depth == 0) {
        if (std::strcmp(mode, "sleep") == 0) {
            close(fd);
            execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
        }
        pause();
        return 0;
    }
    const pid_t child = fork();
    if (child == 0) {
        const std::string depthText = std::to_string(depth - 1);
        const std::string fdText = std::to_string(fd);
        execl("/proc/self/exe", "chain", kChainFlag, depthText.c_str(), fdText.c_str(), mode,
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fd);
    waitpid(child, nullptr, 0);
    return 0;
}

class RealProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        if (inAppScope()) {
            GTEST_SKIP() << "this test process runs inside an application scope";
        }
        if (exeOf(getpid()).empty()) {
            GTEST_SKIP() << "/proc is not readable here";
        }
    }
};

TEST_F(RealProcesses, ChildrenOfTheSameProgramBelongToItsTop) {
    // This test program is the top of a chain of copies of itself.
    const ProcessChain chain(2, false);
    ASSERT_EQ(chain.pids().size(), 3U);
    const ProcessTreeResponsibility responsibility;
    for (const pid_t pid : chain.pids()) {
        EXPECT_EQ(responsibility.responsiblePID(pid), getpid()) << pid;
        EXPECT_EQ(Responsibility::responsiblePID(pid), getpid()) << pid;
    }
}

TEST_F(RealProcesses, AnotherProgramStandsAlone) {
    const ProcessChain chain(1, true);
    ASSERT_EQ(chain.pids().size(), 2U);
    const pid_t sleeper = chain.pids()[1];
    ASSERT_NE(exeOf(sleeper).find("sleep"), std::string::npos);
    const ProcessTreeResponsibility responsibility;
    EXPECT_EQ(responsibility.responsiblePID(sleeper), sleeper);
    EXPECT_EQ(responsibility.responsiblePID(chain.pids()[0]), getpid());
}

TEST_F(RealProcesses, ProcessOneAndUnknownProcessesAnswerThemselves) {
    EXPECT_EQ(Responsibility::responsiblePID(1), 1);
    // Above any kernel's pid_max.
    EXPECT_EQ(Responsibility::responsiblePID(0x7FFFFFF0), 0x7FFFFFF0);
}

// --- the one-time lookup ---------------------------------------------------------------

TEST(ResponsibilityLookup, IsResolvedOnceAcrossThreads) {
    std::vector<std::thread> threads;
    std::vector<pid_t> answers(8, 0);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        threads.emplace_back(
            [&answers, i] { answers[i] = Responsibility::responsiblePID(getpid()); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const pid_t answer : answers) {
        EXPECT_GT(answer, 0);
        EXPECT_EQ(answer, answers[0]);
    }
    EXPECT_EQ(Responsibility::resolutionCount(), 1U);
    Responsibility::responsiblePID(getppid());
    EXPECT_EQ(Responsibility::resolutionCount(), 1U);
}

} // namespace
} // namespace corvalle

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], corvalle::kChainFlag) == 0) {
        return corvalle::runChainLink(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
