// Installs and removals serialised machine-wide: eight products installing
// and removing their references at random, all at once, lose no reference
// and never leave one without its component; a run waits (and says so once)
// while another holds the lock, the modes that install nothing never wait,
// and a pre-processor that runs the tool itself runs under its parent's lock.
#include "platform/install_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

#include "platform/posix/admin.h"
#include "tests/reliability/reliability_support.h"

namespace reliability {
namespace {

constexpr int kProducts = 8;

int Rounds() {
  const char* text = getenv("MEVRID_LOCK_ROUNDS");
  if (text && *text) return std::max(atoi(text), 1);
#if defined(__SANITIZE_ADDRESS__)
  return 15;  // every run costs several times as much
#else
  return 50;
#endif
}

std::string ProductName(int product) { return "PRODUCT" + std::to_string(product); }
std::string ProductImage(int product) {
  return "C:\\Products\\P" + std::to_string(product) + "\\pre.exe P" + std::to_string(product);
}

// Under the lock, as no run can be halfway: the product's own reference is
// registered exactly when it believes so, and every reference has its
// whole component under it.
void CheckMachine(int product, bool registered, std::vector<std::string>* out) {
  const std::string own = ProductName(product) + "=" + ProductImage(product);
  const std::vector<std::string> references = RegisteredReferences();
  const bool present = std::find(references.begin(), references.end(), own) != references.end();
  if (registered && !present) out->push_back("L " + own + " was lost");
  if (!registered && present) out->push_back("F " + own + " stayed after its removal");
  if (!references.empty()) {
    emu::admin::ServiceInfo driver;
    std::string error;
    const bool driver_runs = emu::admin::QueryService("vtrin", &driver, &error) && driver.state == SERVICE_RUNNING;
    if (RecordedVersion() != "4.0" || !driver_runs)
      out->push_back("L " + std::to_string(references.size()) + " references without their component");
  }
  std::string integrity = IntegrityCheck();
  if (integrity != "ok") out->push_back("F integrity check: " + integrity);
}

TEST(InstallLock, ConcurrentInstallsAndRemovalsLoseNoReference) {
  Lab lab("mevrid-lock");
  const std::string dir = lab.Path("machine");
  {
    OpenedMachine machine(dir, true);
    ASSERT_TRUE(machine.ok());
    for (int product = 0; product < kProducts; ++product)
      ASSERT_TRUE(PutHelper(machine, "record_args", "C:\\Products\\P" + std::to_string(product) + "\\pre.exe"));
  }
  const int rounds = Rounds();
  std::vector<std::string> lines = RunInWorkers(kProducts, [&](int product, std::vector<std::string>* out) {
    if (product >= kProducts) return false;
    std::mt19937 random(static_cast<unsigned>(product) * 7919u + 17u);
    const std::vector<std::string> env{"MEVRID_RECORD_FILE=" + lab.Path("record-" + std::to_string(product))};
    bool registered = false;
    for (int round = 0; round < rounds; ++round) {
      const bool install = random() % 2 == 0;
      const std::string name = ProductName(product);
      testsupport::ProcessResult run =
          RunTool(lab, dir,
                  install ? std::vector<std::string>{"-k", name, "-p", ProductImage(product)}
                          : std::vector<std::string>{"-k", name, "-r"},
                  env);
      out->push_back(install ? "I" : "R");
      if (run.out.find("Waiting for another installation of the KOTA component to finish.\n") == 0) out->push_back("W");
      // An install always succeeds; a removal succeeds exactly when the
      // reference was registered.
      const int expected_status = install || registered ? 0 : 1;
      if (run.status != expected_status) {
        out->push_back("F " + name + (install ? " install" : " removal") + " ended with " + std::to_string(run.status) +
                       ":\n" + run.out);
      }
      if (run.status == 0) registered = install;
      OpenedMachine machine(dir);
      if (!AcquireInstallLock()) {
        out->push_back("F the test cannot take the lock");
        continue;
      }
      Expectations expect;
      if (install)
        expect.installed = name + "=" + ProductImage(product);
      else
        expect.removed = name;
      for (const std::string& broken : CheckRunInvariants(run, expect)) out->push_back("F " + name + ": " + broken);
      CheckMachine(product, registered, out);
      ReleaseInstallLock();
    }
    return false;
  });
  int installs = 0, removals = 0, waits = 0, lost = 0;
  std::vector<std::string> failures;
  for (const std::string& line : lines) {
    if (line == "I")
      ++installs;
    else if (line == "R")
      ++removals;
    else if (line == "W")
      ++waits;
    else {
      if (line[0] == 'L') ++lost;
      failures.push_back(line.substr(2));
    }
  }
  printf("install lock: %d products x %d rounds: %d installs, %d removals, %d runs waited, %d references lost\n",
         kProducts, rounds, installs, removals, waits, lost);
  EXPECT_EQ(installs + removals, kProducts * rounds);
  EXPECT_EQ(lost, 0);
  for (size_t i = 0; i < failures.size() && i < 5; ++i) ADD_FAILURE() << failures[i];
  EXPECT_TRUE(failures.empty()) << failures.size() << " failures";
}

// The tool run in a child that gives up after `seconds`: a run that waits
// for the lock the test holds shows up as a child killed by its alarm.
int RunToolWithin(int seconds, const Lab& lab, const std::string& dir, const std::vector<std::string>& args) {
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    alarm(static_cast<unsigned>(seconds));
    _exit(RunTool(lab, dir, args).status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tool started in the background, its status and output collected later.
class BackgroundRun {
 public:
  BackgroundRun(const Lab& lab, const std::string& dir, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {}) {
    int fds[2];
    if (pipe(fds) != 0) return;
    fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      testsupport::ProcessResult run = RunTool(lab, dir, args, env);
      std::string report = std::to_string(run.status) + "\n" + run.out;
      ssize_t ignored = write(fds[1], report.data(), report.size());
      (void)ignored;
      _exit(0);
    }
    close(fds[1]);
    fd_ = fds[0];
  }
  bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  // "status\noutput" once the run has ended.
  std::string Finish() {
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
    close(fd_);
    waitpid(pid_, nullptr, 0);
    return report;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

class InstallLockTest : public testing::Test {
 protected:
  void SetUp() override {
    OpenedMachine machine(dir_, true);
    ASSERT_TRUE(machine.ok());
  }
  Lab lab_{"mevrid-lock"};
  std::string dir_ = lab_.Path("machine");
};

TEST_F(InstallLockTest, ARunWaitsForTheHolderAndSaysSoOnce) {
  const std::string waiting = "Waiting for another installation of the KOTA component to finish.\n";
  OpenedMachine machine(dir_);
  ASSERT_TRUE(AcquireInstallLock());
  BackgroundRun verbose(lab_, dir_, {"-k", "alpha", "-p", "C:\\alpha.exe"});
  BackgroundRun quiet(lab_, dir_, {"-q", "-k", "beta", "-p", "C:\\beta.exe"});
  // Long enough for both runs to reach the lock; neither may install
  // anything before the test lets go.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(verbose.Running());
  EXPECT_TRUE(quiet.Running());
  EXPECT_FALSE(KeyExists(kComponentKey));
  ReleaseInstallLock();
  EXPECT_FALSE(getenv(kInstallLockToken));

  std::string report = verbose.Finish();
  EXPECT_EQ(report.substr(0, 2 + waiting.size() + 2), "0\n" + waiting + "\n\n") << report;
  EXPECT_NE(report.find("Install Complete: No errors encountered.\n\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("Waiting", 2 + waiting.size()), std::string::npos) << "said more than once";
  EXPECT_EQ(quiet.Finish(), "0\n");
  EXPECT_EQ(RegisteredReferences(), (std::vector<std::string>{"ALPHA=C:\\alpha.exe", "BETA=C:\\beta.exe"}));
}

TEST_F(InstallLockTest, TheModesThatInstallNothingNeverWait) {
  OpenedMachine machine(dir_);
  ASSERT_TRUE(AcquireInstallLock());
  // The no-op, usage and agent modes end at once while the lock is held
  // (a run that waited would be ended by its alarm and answer -1).
  EXPECT_EQ(RunToolWithin(20, lab_, dir_, {"-o"}), 0);
  EXPECT_EQ(RunToolWithin(20, lab_, dir_, {"-k", "alpha"}), 1);
  EXPECT_EQ(RunToolWithin(20, lab_, dir_, {"-x", "-k", "alpha", "-p", "C:\\alpha.exe"}), 1);
  EXPECT_EQ(RunToolWithin(20, lab_, dir_, {"-e", "-k", "alpha", "-p", "C:\\alpha.exe"}), 1);
  EXPECT_EQ(RunToolWithin(20, lab_, dir_, {"-b", "-q"}), 1);
  ReleaseInstallLock();
}

TEST_F(InstallLockTest, AFailureToLockEndsTheRunBeforeAnything) {
  {
    OpenedMachine machine(dir_);
    emu::AddFaultRule("CreateMutexA", kInstallLockName, ERROR_ACCESS_DENIED, 1, false);
  }
  testsupport::ProcessResult run = RunTool(lab_, dir_, {"-k", "alpha", "-p", "C:\\alpha.exe"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "\tERROR: Could not gain exclusive access to the KOTA component.\n");
  OpenedMachine machine(dir_);
  EXPECT_FALSE(KeyExists(kComponentKey));
}

// The record names one holding of the lock: the present holding's lets a run
// go ahead under it, an earlier holding's (a pre-processor left running by a
// run that has ended) does not.
TEST_F(InstallLockTest, OnlyThePresentHoldersTokenSkipsTheWait) {
  const std::string waiting = "Waiting for another installation of the KOTA component to finish.\n";
  OpenedMachine machine(dir_);
  ASSERT_TRUE(AcquireInstallLock());
  ASSERT_TRUE(getenv(kInstallLockToken));
  const std::string earlier = getenv(kInstallLockToken);
  ReleaseInstallLock();
  ASSERT_TRUE(AcquireInstallLock());
  ASSERT_TRUE(getenv(kInstallLockToken));
  const std::string present = getenv(kInstallLockToken);
  EXPECT_NE(earlier, present);

  testsupport::ProcessResult under =
      RunTool(lab_, dir_, {"-k", "alpha", "-p", "C:\\alpha.exe"}, {std::string(kInstallLockToken) + "=" + present});
  EXPECT_EQ(under.status, 0);
  EXPECT_EQ(under.out.find("Waiting"), std::string::npos) << under.out;

  BackgroundRun stale(lab_, dir_, {"-k", "beta", "-p", "C:\\beta.exe"},
                      {std::string(kInstallLockToken) + "=" + earlier});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(stale.Running());
  EXPECT_EQ(RegisteredReferences(), (std::vector<std::string>{"ALPHA=C:\\alpha.exe"}));
  ReleaseInstallLock();
  const std::string report = stale.Finish();
  EXPECT_EQ(report.substr(0, 2 + waiting.size()), "0\n" + waiting) << report;
  EXPECT_EQ(RegisteredReferences(), (std::vector<std::string>{"ALPHA=C:\\alpha.exe", "BETA=C:\\beta.exe"}));
}

// The lock held by a process this test starts (lock_probe), which is thus
// no ancestor of the runs the test starts next.
class SiblingHolder {
 public:
  explicit SiblingHolder(const std::string& machine_dir) {
    fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
      setenv("MEVRID_MACHINE", machine_dir.c_str(), 1);
      unsetenv(kInstallLockToken);
      const std::string probe = std::string(MEVRID_TEST_HELPERS_DIR) + "/lock_probe";
      const std::string record_file = machine_dir + "/holder.txt";
      execl(probe.c_str(), probe.c_str(), "hold", record_file.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int tries = 0; tries < 1000 && access((machine_dir + "/holder.txt").c_str(), F_OK) != 0; ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~SiblingHolder() { End(); }
  void End() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// The attack of a run that copies the holder's record out of the lock file
// into its own environment: it still waits for the holder, whose process it
// does not descend from, and goes ahead only once the holder is gone.
TEST_F(InstallLockTest, ARunThatCopiesTheRecordStillWaits) {
  const std::string waiting = "Waiting for another installation of the KOTA component to finish.\n";
  SiblingHolder holder(dir_);
  const std::string record = testsupport::ReadFile(dir_ + "/" + kInstallLockFileName);
  ASSERT_FALSE(record.empty()) << "the holder did not take the lock";
  BackgroundRun copier(lab_, dir_, {"-k", "alpha", "-p", "C:\\alpha.exe"},
                       {std::string(kInstallLockToken) + "=" + record});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(copier.Running());
  {
    OpenedMachine machine(dir_);
    EXPECT_FALSE(KeyExists(kComponentKey));
  }
  holder.End();
  const std::string report = copier.Finish();
  EXPECT_EQ(report.substr(0, 2 + waiting.size()), "0\n" + waiting) << report;
  OpenedMachine machine(dir_);
  EXPECT_EQ(RegisteredReferences(), (std::vector<std::string>{"ALPHA=C:\\alpha.exe"}));
}

// MEVRID_LOCK_TIMEOUT counts real seconds on a virtual clock too: a run
// bounded to five seconds is still waiting when the holder lets go after a
// fraction of one (a bound counted on the virtual clock passes at once), and
// its wait moves the machine's clock not at all. (The
// bound's count of polls is the lock wait's own unit test.)
TEST_F(InstallLockTest, TheBoundIsRealTimeAndLeavesTheMachinesClock) {
  const std::string waiting = "Waiting for another installation of the KOTA component to finish.\n";
  OpenedMachine machine(dir_);
  ASSERT_TRUE(AcquireInstallLock());
  unsetenv(kInstallLockToken);
  const long long before = emu::NowMs();
  // A removal of nothing registered ends without any wait of its own.
  BackgroundRun bounded(lab_, dir_, {"-k", "alpha", "-r"}, {"MEVRID_LOCK_TIMEOUT=5"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(bounded.Running()) << "gave up before its bound had passed";
  EXPECT_EQ(emu::NowMs(), before);
  ReleaseInstallLock();
  const std::string report = bounded.Finish();
  EXPECT_EQ(report.substr(0, 2 + waiting.size()), "1\n" + waiting) << report;
  EXPECT_EQ(report.find("Could not gain exclusive access"), std::string::npos) << report;
  EXPECT_EQ(emu::NowMs(), before);
}

// NESTER's pre-processor registers INNER with the tool itself while the
// removal of NESTER waits for it: the nested run must not wait for the lock
// its parent holds (that wait would last the parent's whole timeout).
TEST_F(InstallLockTest, APreProcessorThatRunsTheToolRunsUnderItsParentsLock) {
  {
    OpenedMachine machine(dir_);
    ASSERT_TRUE(PutHelper(machine, "run_nested", "C:\\Products\\Nester\\pre.exe"));
    emu::SetSetting("process-real-wait-ms", "20000");
  }
  const std::string image = "C:\\Products\\Nester\\pre.exe " + lab_.release() + "/mevrid.exe -k inner -p C:\\inner.exe";
  ASSERT_EQ(RunTool(lab_, dir_, {"-k", "nester", "-p", image}).status, 0);
  long long before = 0;
  {
    OpenedMachine machine(dir_);
    before = emu::NowMs();
  }
  testsupport::ProcessResult run = RunTool(lab_, dir_, {"-k", "nester", "-r"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "\n\nRemoving Components\n*******************\n\n\nRemove Summary\n**************\n"
            "Remove Complete: No errors encountered.\n\n");
  OpenedMachine machine(dir_);
  // The pre-processor ended well within its wait, having registered INNER.
  EXPECT_LT(emu::NowMs() - before, 20000);
  EXPECT_EQ(RegisteredReferences(), (std::vector<std::string>{"INNER=C:\\inner.exe"}));
  std::string console = testsupport::ReadFile(dir_ + "/console.log");
  EXPECT_NE(console.find("Install Complete: No errors encountered.\n"), std::string::npos) << console;
  EXPECT_EQ(console.find("Waiting"), std::string::npos) << console;
}

}  // namespace
}  // namespace reliability
