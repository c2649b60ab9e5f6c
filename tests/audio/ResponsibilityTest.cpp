#include "Responsibility.h"

#include "DesktopFixture.h"
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

using test::FakeProcess;

// A fake /proc tree that lives as long as the object.
class ProcTree {
public:
    void add(const FakeProcess& p) { test::writeProcEntry(dir_.path(), p); }
    void addRaw(pid_t pid, const std::string& file, const std::string& contents) {
        dir_.writeFile(std::to_string(pid) + "/" + file, contents);
    }
    const std::filesystem::path& root() const { return dir_.path(); }

private:
    test::TempDir dir_;
};

constexpr const char* kBash = "/usr/bin/bash";
constexpr const char* kFirefox = "/usr/lib/firefox/firefox";
constexpr const char* kSystemd = "/usr/lib/systemd/systemd";
constexpr const char* kScope =
    "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-foo-700.scope";

FakeProcess proc(pid_t pid, pid_t parent, const std::string& comm, const std::string& exe,
                 const std::string& cgroup = "0::/user.slice/user-1000.slice/session-2.scope",
                 unsigned uid = 1000) {
    FakeProcess p;
    p.pid = pid;
    p.ppid = parent;
    p.uid = uid;
    p.comm = comm;
    p.exe = exe;
    p.cgroups = {cgroup};
    return p;
}

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

const FakeProcess kInit = proc(1, 0, "systemd", kSystemd, "0::/init.scope", 0);
const FakeProcess kShell = proc(100, 1, "bash", kBash);

INSTANTIATE_TEST_SUITE_P(
    Cases, ProcessTree,
    ::testing::Values(
        TreeCase{"SameProgramChainEndsAtItsTop",
                 {kInit, kShell, proc(200, 100, "firefox", kFirefox),
                  proc(300, 200, "Isolated Web Co", kFirefox),
                  proc(400, 300, "Web Content", kFirefox)},
                 400,
                 200},
        TreeCase{"TopOfTheChainIsItself",
                 {kInit, kShell, proc(200, 100, "firefox", kFirefox)},
                 200,
                 200},
        TreeCase{"AnotherProgramIsItsOwnApplication",
                 {kInit, kShell, proc(200, 100, "firefox", kFirefox),
                  proc(500, 200, "crashhelper", "/usr/lib/firefox/crashhelper")},
                 500,
                 500},
        TreeCase{"ChainMustBeUnbroken",
                 {kInit, proc(150, 1, "firefox", kFirefox), proc(160, 150, "sh", "/usr/bin/sh"),
                  proc(170, 160, "firefox", kFirefox)},
                 170,
                 170},
        TreeCase{"NeverAnotherUser",
                 {kInit, proc(600, 1, "firefox", kFirefox, kScope, 0),
                  proc(601, 600, "firefox", kFirefox, kScope, 1000)},
                 601,
                 601},
        TreeCase{"NeverProcessOne",
                 {kInit, proc(900, 1, "systemd", kSystemd, "0::/user.slice", 0)},
                 900,
                 900},
        TreeCase{"ScopeReachesItsTopAcrossPrograms",
                 {kInit,
                  proc(690, 1, "gnome-shell", "/usr/bin/gnome-shell",
                       "0::/user.slice/user-1000.slice/session-2.scope"),
                  proc(700, 690, "foo-launcher", "/usr/bin/sh", kScope),
                  proc(701, 700, "foo", "/usr/bin/foo", kScope),
                  proc(702, 701, "foo-helper", "/usr/lib/foo/helper", kScope)},
                 702,
                 700},
        TreeCase{"ScopeWinsOverTheSameProgram",
                 {kInit, proc(800, 1, "firefox", kFirefox, "0::/app.slice/app-a.scope"),
                  proc(801, 800, "firefox", kFirefox, "0::/app.slice/app-b.scope")},
                 801,
                 801},
        TreeCase{
            "ServiceUnitsAreScopesToo",
            {kInit, proc(810, 1, "term", "/usr/bin/term", "0::/app.slice/app-org.term.service"),
             proc(811, 810, "helper", "/usr/bin/helper", "0::/app.slice/app-org.term.service")},
            811,
            810},
        TreeCase{"FlatpakInstance",
                 {kInit,
                  proc(820, 1, "bwrap", "/usr/bin/bwrap",
                       "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                       "app-flatpak-org.example.Player-12345.scope"),
                  proc(821, 820, "player", "/app/bin/player",
                       "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                       "app-flatpak-org.example.Player-12345.scope")},
                 821,
                 820},
        TreeCase{"LegacyHierarchy",
                 {kInit,
                  proc(830, 1, "a", "/usr/bin/a",
                       "12:pids:/x\n1:name=systemd:/user.slice/app.slice/app-a.scope"),
                  proc(831, 830, "b", "/usr/bin/b",
                       "12:pids:/x\n1:name=systemd:/user.slice/app.slice/app-a.scope")},
                 831,
                 830},
        TreeCase{"SlicesAreNotScopes",
                 {kInit, proc(840, 1, "a", "/usr/bin/a", "0::/user.slice/app.slice"),
                  proc(841, 840, "b", "/usr/bin/b", "0::/user.slice/app.slice")},
                 841,
                 841},
        TreeCase{"ReplacedProgramIsTheSame",
                 {kInit, kShell, proc(200, 100, "app", "/usr/bin/app (deleted)"),
                  proc(210, 200, "app", "/usr/bin/app")},
                 210,
                 200},
        TreeCase{"OddCommandNames",
                 {kInit, kShell, proc(200, 100, "a) S 1 (b", kFirefox),
                  proc(201, 200, ") 1 1 1", kFirefox)},
                 201,
                 200},
        TreeCase{"DeadParentEndsTheWalk", {kInit, proc(300, 299, "firefox", kFirefox)}, 300, 300},
        TreeCase{"UnreadableExecutableIsItself",
                 {kInit, kShell, proc(200, 100, "x", ""), proc(201, 200, "x", "")},
                 201,
                 201},
        TreeCase{"MissingProcessIsItself", {kInit}, 4242, 4242},
        TreeCase{"LoopEnds",
                 {kInit, proc(1000, 1001, "x", kFirefox), proc(1001, 1000, "x", kFirefox)},
                 1000,
                 1001}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ProcessTreeDamage, GarbledFilesMeanNoAnswer) {
    ProcTree tree;
    tree.add(kInit);
    tree.add(proc(200, 1, "firefox", kFirefox));
    tree.addRaw(201, "stat", "201 firefox S 200");
    tree.addRaw(201, "status", "Uid:\t1000\n");
    tree.add(proc(300, 200, "firefox", kFirefox));
    tree.addRaw(301, "stat", "301 (firefox) S 300 1");
    tree.addRaw(301, "status", "Name:\tfirefox\n");
    tree.add(proc(400, 200, "firefox", kFirefox));
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
