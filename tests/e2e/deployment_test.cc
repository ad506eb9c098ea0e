// The deployment variables end to end: every Windows Installer code reached
// by a real scenario with the console unchanged, the run's record after each
// kind of run, a nested run that leaves its parent's record alone, and the
// log of a walk whose pre-processor never ends.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <stdlib.h>

#include <functional>
#include <regex>

#include "platform/install_lock.h"
#include "tests/e2e/component_e2e_support.h"
#include "tests/e2e/legacy_e2e_texts.h"

namespace componente2e {
namespace {

const std::string kAlphaImage = "C:\\Products\\Alpha\\pre.exe ALPHA";
const std::string kLockLines =
    "Waiting for another installation of the KOTA component to finish.\n"
    "\tERROR: Could not gain exclusive access to the KOTA component.\n";

// The machine's files of a deployed run, beside its release directory.
struct DeployedFiles {
  explicit DeployedFiles(const e2e::ReleaseMachine& m)
      : record(std::filesystem::path(m.release_dir()).parent_path().string() + "/result.json"),
        log(std::filesystem::path(m.release_dir()).parent_path().string() + "/run.log") {}
  std::vector<std::string> Env() const {
    return {"MEVRID_EXIT_CODES=msi", "MEVRID_LOCK_TIMEOUT=600", "MEVRID_RESULT_FILE=" + record, "MEVRID_LOG=" + log};
  }
  std::string record;
  std::string log;
};

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// --- every code, each from its own scenario, on a machine of its own --------

struct CodeCase {
  const char* name;
  std::function<void(e2e::ReleaseMachine&)> setup;
  std::vector<std::string> args;  // the run that counts; {} runs the installed copy's removal
  std::vector<std::string> env;   // set in both runs
  int status;                     // without the variables
  int msi;                        // with them
  const char* mode_and_outcome;
  bool hold_lock = false;
};

void InstallAlphaOn(e2e::ReleaseMachine& m) { ASSERT_EQ(m.Run({"-k", "alpha", "-p", kAlphaImage, "-q"}).status, 0); }

const CodeCase kCodeCases[] = {
    {"noop", nullptr, {"-o", "-k", "alpha"}, {}, 0, 0, R"("mode":"noop","outcome":"noop")"},
    {"usage", nullptr, {"-k", "alpha"}, {}, 1, 1639, R"("mode":"usage","outcome":"usage")"},
    {"installed", nullptr, {"-k", "alpha", "-p", kAlphaImage}, {}, 0, 0, R"("mode":"install","outcome":"installed")"},
    {"failed copy",
     [](e2e::ReleaseMachine& m) { m.AddFault("CopyFileA", "vtrin.sys", 32 /* ERROR_SHARING_VIOLATION */); },
     {"-k", "alpha", "-p", kAlphaImage},
     {},
     1,
     1603,
     R"("mode":"install","outcome":"failed")"},
    {"older node",
     [](e2e::ReleaseMachine& m) {
       m.machine().Import(std::string(legacye2e::kReg) + legacye2e::kOlderNodeKey +
                          "\"Version\"=\"3.2.1\"\n\"DMIPath\"=\"C:\\\\DMI\"\n");
     },
     {"-k", "alpha", "-p", kAlphaImage},
     {},
     1,
     1638,
     R"("mode":"refused","outcome":"refused-older-node")"},
    {"lock held past its bound",
     nullptr,
     {"-k", "alpha", "-p", kAlphaImage},
     {"MEVRID_LOCK_TIMEOUT=0"},
     1,
     1618,
     R"("mode":"install","outcome":"busy")",
     true},
    {"removal by the installed copy",
     InstallAlphaOn,
     {},
     {},
     0,
     3010,
     R"("mode":"remove","outcome":"removed-component")"},
    {"agent stop without agents", nullptr, {"-e"}, {}, 1, 1603, R"("mode":"stop-agent","outcome":"failed")"},
};

struct CodeRun {
  e2e::ToolRun run;
  std::string record;
};

CodeRun RunCase(const CodeCase& c, bool deployed) {
  e2e::ReleaseMachine m;
  DeployedFiles files(m);
  if (c.setup) c.setup(m);
  if (c.hold_lock) {
    EXPECT_TRUE(AcquireInstallLock());
    unsetenv(kInstallLockToken);  // the tool must not run under this holder
  }
  std::vector<std::string> env = deployed ? Joined(files.Env(), c.env) : c.env;
  CodeRun result;
  if (c.args.empty()) {
    testsupport::ProcessResult run =
        testsupport::RunProgram({m.machine().HostPath(kInstalledTool), "-k", "alpha", "-r"}, m.release_dir(), env);
    result.run = {run.status, run.out, run.err};
  } else {
    result.run = m.Run(c.args, env);
  }
  if (c.hold_lock) ReleaseInstallLock();
  result.record = testsupport::ReadFile(files.record);
  return result;
}

TEST(DeploymentCodes, EveryCodeComesFromItsScenarioWithTheConsoleUnchanged) {
  for (const CodeCase& c : kCodeCases) {
    SCOPED_TRACE(c.name);
    const CodeRun plain = RunCase(c, false);
    const CodeRun deployed = RunCase(c, true);
    EXPECT_EQ(plain.run.status, c.status);
    EXPECT_EQ(deployed.run.status, c.msi & 0xFF) << "a POSIX exit status keeps the low 8 bits";
    EXPECT_EQ(deployed.run.out, plain.run.out);
    EXPECT_EQ(plain.record, "");
    EXPECT_NE(deployed.record.find(std::string(c.mode_and_outcome) + ",\"exit_status\":" + std::to_string(c.msi)),
              std::string::npos)
        << deployed.record;
  }
}

// The bound without the exit codes: the lock's error line and status 1. The
// bound is real time (the holder is a real process), so the machine's clock
// stays where it was; a bound of 0 gives up at once.
TEST(DeploymentCodes, TheLockWaitEndsAtItsBound) {
  e2e::ReleaseMachine m;
  ASSERT_TRUE(AcquireInstallLock());
  unsetenv(kInstallLockToken);
  const long long before = m.machine().NowMs();
  e2e::ToolRun run = m.Run({"-k", "alpha", "-p", kAlphaImage}, {"MEVRID_LOCK_TIMEOUT=0"});
  EXPECT_EQ(m.machine().NowMs(), before);
  ReleaseInstallLock();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kLockLines);
  // Not a count of seconds: the wait has no bound, and the free lock is taken.
  run = m.Run({"-k", "alpha", "-p", kAlphaImage, "-q"}, {"MEVRID_LOCK_TIMEOUT=5s", "MEVRID_EXIT_CODES=MSI"});
  EXPECT_EQ(run.status, 0);
}

// --- the record of each kind of run ---------------------------------------

class DeploymentRecord : public ComponentEndToEnd {
 protected:
  // A run with all four variables; the record it leaves (empty: none).
  std::string Deployed(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    DeployedFiles files(m_);
    std::filesystem::remove(files.record);
    last_ = Run(args, Joined(files.Env(), env));
    return testsupport::ReadFile(files.record);
  }
  static std::string Record(const std::string& mode_to_status, bool changed, bool restart, const std::string& rest) {
    return R"({"schema":1,)" + mode_to_status + R"(,"changed":)" + (changed ? "true" : "false") +
           R"(,"restart_required":)" + (restart ? "true" : "false") + "," + rest + "}\n";
  }
  e2e::ToolRun last_;
};

TEST_F(DeploymentRecord, InstallsRegistrationsUpgradesAndRemovals) {
  const std::string none = R"("failed_phases":[],"errors":[],)";
  EXPECT_EQ(Deployed({"-k", "alpha", "-p", kAlphaImage}),
            Record(R"("mode":"install","outcome":"installed","exit_status":0)", true, false,
                   none + R"("reference":"ALPHA","version_before":null,"version_after":"4.0")"));
  // The same image again writes what is there: no change.
  EXPECT_EQ(Deployed({"-k", "ALPHA", "-p", kAlphaImage, "-q"}),
            Record(R"("mode":"install","outcome":"registered","exit_status":0)", false, false,
                   none + R"("reference":"ALPHA","version_before":"4.0","version_after":"4.0")"));
  EXPECT_EQ(Deployed({"-k", "Beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"}),
            Record(R"("mode":"install","outcome":"registered","exit_status":0)", true, false,
                   none + R"("reference":"BETA","version_before":"4.0","version_after":"4.0")"));
  m_.machine().Import("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" + std::string(kVersionKey) +
                      "]\r\n\"Version\"=\"3.9\"\r\n");
  EXPECT_EQ(Deployed({"-k", "alpha", "-p", kAlphaImage}),
            Record(R"("mode":"install","outcome":"upgraded","exit_status":0)", true, false,
                   none + R"("reference":"ALPHA","version_before":"3.9","version_after":"4.0")"));
  EXPECT_EQ(Deployed({"-k", "alpha", "-r"}),
            Record(R"("mode":"remove","outcome":"removed-reference","exit_status":0)", true, false,
                   none + R"("reference":"ALPHA","version_before":"4.0","version_after":"4.0")"));
  EXPECT_EQ(Deployed({"-k", "beta", "-r"}),
            Record(R"("mode":"remove","outcome":"removed-component","exit_status":0)", true, false,
                   none + R"("reference":"BETA","version_before":"4.0","version_after":null)"));
  EXPECT_EQ(last_.out, kRemoveBanner + kStopAndRemove + kRemoveOk);
}

TEST_F(DeploymentRecord, AFailedCopyNamesItsCallCodeAndFile) {
  m_.AddFault("CopyFileA", "vtrin.sys", 32 /* ERROR_SHARING_VIOLATION */);
  EXPECT_EQ(Deployed({"-k", "alpha", "-p", kAlphaImage, "-q"}),
            Record(R"("mode":"install","outcome":"failed","exit_status":1603)", true, false,
                   R"("failed_phases":["During KOTA component install."],"errors":[{"step":"copy",)"
                   R"("call":"CopyFileA","code":32,"subject":"C:\\WINDOWS\\system32\\drivers\\vtrin.sys"}],)"
                   R"("reference":"ALPHA","version_before":null,"version_after":null)"));
}

TEST_F(DeploymentRecord, ARefusalAndAnUnwritableRecordChangeNothing) {
  m_.machine().Import(std::string(legacye2e::kReg) + legacye2e::kOlderNodeKey +
                      "\"Version\"=\"3.0\"\n\"DMIPath\"=\"C:\\\\DMI\"\n");
  EXPECT_EQ(Deployed({"-k", "alpha", "-p", kAlphaImage, "-q"}),
            Record(R"("mode":"refused","outcome":"refused-older-node","exit_status":1638)", false, false,
                   R"("failed_phases":[],"errors":[],"reference":"ALPHA","version_before":null,"version_after":null)"));

  DeployedFiles files(m_);
  const e2e::ToolRun plain = Run({"-k", "alpha", "-p", kAlphaImage});
  const e2e::ToolRun unwritable = Run({"-k", "alpha", "-p", kAlphaImage},
                                      {"MEVRID_RESULT_FILE=/nonexistent/result.json", "MEVRID_LOG=" + files.log});
  EXPECT_EQ(unwritable.status, plain.status);
  EXPECT_EQ(unwritable.out, plain.out);
  EXPECT_NE(testsupport::ReadFile(files.log).find("record could not be written to \"/nonexistent/result.json\""),
            std::string::npos);
}

// A record or a log named where no file of the run's own is: a FIFO with no
// reader, a directory, a socket, a device, a file of other text, the
// machine's own database. The run neither waits there nor writes there; its
// output and status are a plain run's, and the log, where it can be
// written, says why the record was not. An earlier record is replaced.
TEST_F(DeploymentRecord, ATargetThatIsNotItsOwnFileIsPassedOver) {
  const std::string work = std::filesystem::path(m_.release_dir()).parent_path().string();
  const std::string fifo = work + "/fifo", directory = work + "/directory", socket_path = work + "/socket",
                    document = work + "/notes.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_TRUE(std::filesystem::create_directory(directory));
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_TRUE(testsupport::WriteFile(document, "{\"schema\":1, but notes of mine\n"));
  const std::vector<std::string> noop = {"-o", "-k", "alpha"};
  DeployedFiles files(m_);
  const e2e::ToolRun plain = Run(noop);
  const std::string not_regular = "it is not a regular file (a directory, a FIFO, a device or a socket)";
  const std::string not_record = "it holds something other than an earlier record, which is left as it is";
  for (const auto& [target, why] : {std::pair{fifo, not_regular}, std::pair{directory, not_regular},
                                    std::pair{socket_path, not_regular}, std::pair{document, not_record}}) {
    SCOPED_TRACE(target);
    std::filesystem::remove(files.log);
    const e2e::ToolRun record = Run(noop, {"MEVRID_RESULT_FILE=" + target, "MEVRID_LOG=" + files.log});
    EXPECT_EQ(record.status, plain.status);
    EXPECT_EQ(record.out, plain.out);
    EXPECT_NE(testsupport::ReadFile(files.log).find("record not written to \"" + target + "\": " + why),
              std::string::npos);
    if (target == document) continue;
    const e2e::ToolRun log = Run(noop, {"MEVRID_LOG=" + target});
    EXPECT_EQ(log.status, plain.status);
    EXPECT_EQ(log.out, plain.out);
  }
  const e2e::ToolRun device_log = Run(noop, {"MEVRID_LOG=/dev/null"});
  EXPECT_EQ(device_log.out, plain.out);
  struct stat st {};
  EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_TRUE(stat(socket_path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode));
  EXPECT_TRUE(std::filesystem::is_empty(directory));
  EXPECT_EQ(testsupport::ReadFile(document), "{\"schema\":1, but notes of mine\n");
  close(listener);

  // The machine's own database stays the machine's: the next run finds it.
  const std::string database = m_.machine().dir() + "/machine.db";
  std::filesystem::remove(files.log);
  const e2e::ToolRun install =
      Run({"-k", "alpha", "-p", kAlphaImage, "-q"}, {"MEVRID_RESULT_FILE=" + database, "MEVRID_LOG=" + files.log});
  EXPECT_EQ(install.status, 0);
  EXPECT_NE(testsupport::ReadFile(files.log).find("record not written to \"" + database + "\": " + not_record),
            std::string::npos);
  EXPECT_EQ(Run({"-k", "beta", "-p", "C:\\Products\\Beta\\pre.exe BETA", "-q"}).status, 0);
  EXPECT_TRUE(AllInstalled());

  // An earlier record is what the record replaces.
  Deployed(noop);
  EXPECT_EQ(Run({"-k", "alpha", "-r", "-q"}, files.Env()).status, 0);
  EXPECT_NE(testsupport::ReadFile(files.record).find(R"("outcome":"removed-reference")"), std::string::npos);
}

// ALPHA's pre-processor runs the tool itself: the nested run logs to the
// same file with its own process id, and does not see the record's path.
TEST_F(DeploymentRecord, ANestedRunKeepsToItsOwnRecordAndLogsItsOwnLines) {
  ASSERT_TRUE(emu::SetSetting("process-real-wait-ms", "20000"));
  PutHelper("run_nested", "C:\\Products\\Nester\\pre.exe");
  const std::string image = "C:\\Products\\Nester\\pre.exe " + m_.release_dir() + "/mevrid.exe -k inner -p C:\\in.exe";
  ASSERT_EQ(Run({"-k", "nester", "-p", image, "-q"}).status, 0);
  DeployedFiles files(m_);
  std::filesystem::remove(files.log);

  // Not quiet: the nested run takes every argument but the last as its own.
  EXPECT_EQ(
      Deployed({"-k", "nester", "-r"}),
      Record(R"("mode":"remove","outcome":"removed-reference","exit_status":0)", true, false,
             R"("failed_phases":[],"errors":[],"reference":"NESTER","version_before":"4.0","version_after":"4.0")"));
  const std::string log = testsupport::ReadFile(files.log);
  std::smatch outer, inner;
  ASSERT_TRUE(std::regex_search(log, outer, std::regex(R"(mevrid\[(\d+)\] start: .*-k nester -r"[^\n]*)")));
  ASSERT_TRUE(std::regex_search(log, inner, std::regex(R"(mevrid\[(\d+)\] start: .*-k inner -p[^\n]*)")));
  EXPECT_NE(outer[0].str().find(", record \""), std::string::npos);
  EXPECT_EQ(inner[0].str().find(", record \""), std::string::npos) << "the nested run was given a record";
  EXPECT_NE(outer[1], inner[1]);
  EXPECT_NE(log.find("mevrid[" + inner[1].str() + "] end: mode install, outcome registered"), std::string::npos) << log;
}

// --- the log -----------------------------------------------------------------

// An upgrade's walk tells HANG to let go and to take up the driver again;
// its pre-processor never ends, and each wait lasts two minutes of machine
// time.
TEST_F(DeploymentRecord, TheLogShowsAPreProcessorThatNeverEndsAndEveryLineIsWhole) {
  ASSERT_TRUE(emu::SetSetting("process-real-wait-ms", "300"));
  PutHelper("never_ends", "C:\\Products\\Hang\\pre.exe");
  ASSERT_EQ(Run({"-k", "hang", "-p", "C:\\Products\\Hang\\pre.exe", "-q"}).status, 0);
  m_.machine().Import("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" + std::string(kVersionKey) +
                      "]\r\n\"Version\"=\"3.9\"\r\n");
  DeployedFiles files(m_);
  Deployed({"-k", "alpha", "-p", kAlphaImage, "-q"});
  for (pid_t pid : testsupport::ProgramsRunningFrom(m_.machine().DriveC())) kill(pid, SIGKILL);

  const std::string log = testsupport::ReadFile(files.log);
  EXPECT_NE(log.find(" step check\n"), std::string::npos) << log;
  for (const char* notify : {"-e", "-b"}) {
    EXPECT_NE(log.find(std::string(" pre-processor \"C:\\Products\\Hang\\pre.exe ") + notify +
                       " -q\" still running after 120000 ms, left running\n"),
              std::string::npos)
        << log;
  }
  EXPECT_NE(log.find(" end: mode install, outcome upgraded, changed true, restart required false, exit status 0\n"),
            std::string::npos)
      << log;
  const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z mevrid\[\d+\] [^\n]+)");
  for (size_t start = 0, end; start < log.size(); start = end + 1) {
    end = log.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(std::regex_match(log.substr(start, end - start), line)) << log.substr(start, end - start);
  }
}

}  // namespace
}  // namespace componente2e
