#include "Responsibility.h"

#include "DesktopFixture.h"
#include "TempDir.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace corvalle {
namespace {

using test::FakeProcess;

constexpr const char* kFirefox = "/usr/lib/firefox/firefox";
constexpr const char* kSession = "0::/user.slice/user-1000.slice/session-2.scope";
constexpr const char* kScope =
    "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-foo-700.scope";

FakeProcess proc(pid_t pid, pid_t parent, const std::string& exe,
                 const std::string& cgroup = kSession, unsigned uid = 1000,
                 const std::string& comm = "app") {
    FakeProcess p;
    p.pid = pid;
    p.ppid = parent;
    p.uid = uid;
    p.comm = comm;
    p.exe = exe;
    p.cgroups = {cgroup};
    return p;
}

const FakeProcess kInit = proc(1, 0, "/usr/lib/systemd/systemd", "0::/init.scope", 0);
const FakeProcess kShell = proc(100, 1, "/usr/bin/bash");

struct TreeCase {
    const char* name;
    pid_t asked;
    pid_t expected;
    std::vector<FakeProcess> processes; // besides PID 1
};

class ProcessTree : public ::testing::TestWithParam<TreeCase> {};

TEST_P(ProcessTree, FindsTheResponsibleProcess) {
    const test::TempDir root;
    test::writeProcEntry(root.path(), kInit);
    for (const auto& p : GetParam().processes) {
        test::writeProcEntry(root.path(), p);
    }
    const ProcessTreeResponsibility responsibility(root.path());
    EXPECT_EQ(responsibility.responsiblePID(GetParam().asked), GetParam().expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ProcessTree, ::testing::Values(
    TreeCase{"SameProgramChainEndsAtItsTop", 400, 200,
             {kShell, proc(200, 100, kFirefox), proc(300, 200, kFirefox), proc(400, 300, kFirefox)}},
    TreeCase{"ChainMustBeUnbroken", 170, 170,
             {proc(150, 1, kFirefox), proc(160, 150, "/usr/bin/sh"), proc(170, 160, kFirefox)}},
    TreeCase{"NeverAnotherUser", 601, 601,
             {proc(600, 1, kFirefox, kScope, 0), proc(601, 600, kFirefox, kScope)}},
    TreeCase{"NeverProcessOne", 900, 900, {proc(900, 1, "/usr/lib/systemd/systemd", "0::/", 0)}},
    TreeCase{"ScopeReachesItsTopAcrossPrograms", 702, 700,
             {proc(690, 1, "/usr/bin/gnome-shell"), proc(700, 690, "/usr/bin/sh", kScope),
              proc(701, 700, "/usr/bin/foo", kScope), proc(702, 701, "/usr/lib/foo/helper", kScope)}},
    TreeCase{"ScopeWinsOverTheSameProgram", 801, 801,
             {proc(800, 1, kFirefox, "0::/app.slice/app-a.scope"),
              proc(801, 800, kFirefox, "0::/app.slice/app-b.scope")}},
    TreeCase{"DeadParentEndsTheWalk", 300, 300, {proc(300, 299, kFirefox)}},
    TreeCase{"UnreadableExecutableIsItself", 201, 201,
             {kShell, proc(200, 100, ""), proc(201, 200, "")}},
    TreeCase{"LoopEnds", 1000, 1001, {proc(1000, 1001, kFirefox), proc(1001, 1000, kFirefox)}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });
// clang-format on

// Answers are remembered; a pid taken over by another process must not inherit one.
// (The replacements get command names of another length, so their stat files
// differ even where this file system hands out the freed inode again.)
TEST(ProcessTreeReuse, AReplacedProcessIsAskedAfresh) {
    const test::TempDir root;
    test::writeProcEntry(root.path(), kInit);
    test::writeProcEntry(root.path(), proc(200, 1, kFirefox));
    test::writeProcEntry(root.path(), proc(300, 200, kFirefox));
    const ProcessTreeResponsibility responsibility(root.path());
    ASSERT_EQ(responsibility.responsiblePID(300), 200);
    ASSERT_EQ(responsibility.responsiblePID(300), 200);

    // The responsible process ends and its pid goes to an unrelated program.
    test::writeProcEntry(root.path(), proc(200, 1, "/usr/bin/other", kSession, 1000, "other"));
    EXPECT_EQ(responsibility.responsiblePID(300), 300);

    // Pid 300 itself is taken by a process of another user.
    test::writeProcEntry(root.path(), proc(300, 200, kFirefox, kSession, 0, "firefox-esr"));
    test::writeProcEntry(root.path(), proc(200, 1, kFirefox, kSession, 0, "firefox"));
    EXPECT_EQ(responsibility.responsiblePID(300), 200);

    std::filesystem::remove_all(root.path() / "300");
    EXPECT_EQ(responsibility.responsiblePID(300), 300);
}

// Which garbled files read as no identity is the process identity tests' concern.
TEST(ProcessTreeDamage, GarbledFilesMeanNoAnswer) {
    const test::TempDir root;
    for (const auto& p : {kInit, proc(200, 1, kFirefox), proc(201, 200, kFirefox)}) {
        test::writeProcEntry(root.path(), p);
    }
    root.writeFile("201/stat", "201 firefox S 200"); // no closing parenthesis
    const ProcessTreeResponsibility responsibility(root.path());
    for (const pid_t pid : {201, 4242, 0, -5}) {
        EXPECT_EQ(responsibility.responsiblePID(pid), pid);
    }
}

TEST(RealProcesses, ACopyOfThisProgramBelongsToIt) {
    std::ifstream cgroupFile("/proc/self/cgroup");
    const std::string cgroup{std::istreambuf_iterator<char>(cgroupFile), {}};
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    const ProcessTreeResponsibility tree;
    const pid_t ours = tree.responsiblePID(getpid());
    EXPECT_EQ(tree.responsiblePID(child), ours);
    EXPECT_EQ(Responsibility::responsiblePID(child), ours);
    if (process::applicationUnit(cgroup).empty()) {
        EXPECT_EQ(ours, getpid()) << "the test runner is another program";
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

} // namespace
} // namespace corvalle
