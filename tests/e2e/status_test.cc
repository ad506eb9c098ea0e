// mevrid-status end to end: the plan of a run set against the run done for
// real right after it, detection before and after an install, and proof by
// the machine's files that it never writes, wherever it meets the machine.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "platform/install_lock.h"
#include "platform/posix/machine.h"
#include "platform/registry_access.h"
#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

// One field of a flat JSON object, as its raw JSON text.
std::string Field(const std::string& json, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  size_t start = json.find(tag);
  if (start == std::string::npos) return "<missing>";
  start += tag.size();
  size_t end = start;
  if (json[start] == '[') {
    end = json.find(']', start) + 1;
  } else if (json[start] == '"') {
    for (end = start + 1; json[end] != '"'; ++end)
      if (json[end] == '\\') ++end;
    ++end;
  } else {
    end = json.find_first_of(",}", start);
  }
  return json.substr(start, end - start);
}

class StatusEndToEnd : public ComponentEndToEnd {
 public:
  // For the scenarios' set-up.
  using ComponentEndToEnd::InstallAlpha;
  using ComponentEndToEnd::InstallBeta;
  e2e::ReleaseMachine& Machine() { return m_; }

  testsupport::ProcessResult Status(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), MEVRID_STATUS_TOOL);
    return testsupport::RunProgram(args, m_.release_dir(), env);
  }
  // An older managed node (3.2) with the services its "-g" handling stops.
  void SeedOlderNode() {
    m_.machine().Import("Windows Registry Editor Version 5.00\n\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\n"
                        "\"Version\"=\"3.2\"\n\"DMIPath\"=\"C:\\\\DMI\"\n");
    for (const char* name : {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "SNMP"})
      m_.DefineService(e2e::Service(name, SERVICE_RUNNING));
    m_.DefineService(e2e::Service("win32sl", SERVICE_RUNNING, "Win32 DMI Service Layer"));
    emu::admin::ServiceSpec agent = e2e::Service("Kelm Local Response Agent", SERVICE_RUNNING);
    agent.depends = {"Kelm Baseboard Agent"};
    m_.DefineService(agent);
  }
};

// What the real run showed, in the record's vocabulary.
struct PlanCase {
  const char* name;
  std::function<void(StatusEndToEnd*)> setup;
  std::vector<std::string> args;
  const char* mode;
  const char* outcome;
  bool changed;
  const char* notify_end;
  const char* notify_begin;
};
// Cases show by name in test listings and failures.
void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kAlpha = {"-k", "alpha", "-p", "C:\\Products\\Alpha\\pre.exe ALPHA"};
const std::vector<std::string> kBeta = {"-k", "beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"};

class PlanAgainstRun : public StatusEndToEnd, public testing::WithParamInterface<PlanCase> {
 protected:
  // The lines the recording pre-processors write for the plan's lists.
  static Lines ExpectedRecord(const std::string& notify_end, const std::string& notify_begin) {
    Lines lines;
    for (const auto& [list, flag] : {std::pair{notify_end, " -e"}, std::pair{notify_begin, " -b"}}) {
      for (size_t start = list.find('"'); start != std::string::npos; start = list.find('"', list.find('"', start + 1) + 1))
        lines.push_back(list.substr(start + 1, list.find('"', start + 1) - start - 1) + flag);
    }
    return lines;
  }
};

TEST_P(PlanAgainstRun, ThePlanIsWhatTheRunThenDoes) {
  const PlanCase& c = GetParam();
  c.setup(this);
  std::vector<std::string> plan_args = {"--plan", "--json"};
  plan_args.insert(plan_args.end(), c.args.begin(), c.args.end());
  const testsupport::ProcessResult plan = Status(plan_args);
  ASSERT_EQ(plan.status, 0) << plan.err;
  EXPECT_EQ(Field(plan.out, "mode"), std::string("\"") + c.mode + "\"");
  EXPECT_EQ(Field(plan.out, "outcome"), std::string("\"") + c.outcome + "\"");
  EXPECT_EQ(Field(plan.out, "changed"), c.changed ? "true" : "false");
  EXPECT_EQ(Field(plan.out, "notify_end"), c.notify_end);
  EXPECT_EQ(Field(plan.out, "notify_begin"), c.notify_begin);

  // The run's own record says what it did.
  const std::string record_path = m_.release_dir() + "/../plan-record.json";
  const e2e::ToolRun run = Run(c.args, {"MEVRID_RESULT_FILE=" + record_path});
  std::ifstream record_file(record_path);
  const std::string record((std::istreambuf_iterator<char>(record_file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(record.empty()) << run.out;
  EXPECT_EQ(Field(record, "mode"), Field(plan.out, "mode"));
  EXPECT_EQ(Field(record, "outcome"), Field(plan.out, "outcome")) << run.out;
  EXPECT_EQ(Field(record, "changed"), Field(plan.out, "changed")) << run.out;
  EXPECT_EQ(Recorded(), ExpectedRecord(c.notify_end, c.notify_begin));
}

void InstallAlpha(StatusEndToEnd* t) { ASSERT_EQ(t->InstallAlpha().status, 0); }
void InstallBoth(StatusEndToEnd* t) {
  ASSERT_EQ(t->InstallAlpha().status, 0);
  ASSERT_EQ(t->InstallBeta().status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, PlanAgainstRun,
    testing::Values(
        PlanCase{"FirstInstall", [](StatusEndToEnd*) {}, kAlpha, "install", "installed", true, "[]", "[]"},
        PlanCase{"SecondInstall", InstallAlpha, kBeta, "install", "registered", true, "[]", "[]"},
        PlanCase{"SameInstallAgain", InstallAlpha, kAlpha, "install", "registered", false, "[]", "[]"},
        PlanCase{"UpgradeOver3Point9",
                 [](StatusEndToEnd* t) {
                   InstallBoth(t);
                   t->Machine().machine().Import("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
                                          std::string(kVersionKey) + "]\r\n\"Version\"=\"3.9\"\r\n");
                 },
                 {"-k", "gamma", "-p", "C:\\Products\\Gamma\\pre.exe"}, "install", "upgraded", true,
                 "[\"ALPHA\",\"BETA\"]", "[\"ALPHA\",\"BETA\"]"},
        PlanCase{"DriverServiceGone",
                 [](StatusEndToEnd* t) {
                   InstallAlpha(t);
                   t->Machine().RemoveService("vtrin");
                 },
                 kBeta, "install", "upgraded", true, "[\"ALPHA\"]", "[\"ALPHA\"]"},
        PlanCase{"UnfinishedInstall",
                 [](StatusEndToEnd* t) {
                   InstallAlpha(t);
                   t->Machine().machine().Import("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
                                                 std::string(kComponentKey) + "]\r\n\"ChangeInProgress\"=\"Install\"\r\n");
                 },
                 kBeta, "install", "upgraded", true, "[\"ALPHA\"]", "[\"ALPHA\"]"},
        PlanCase{"RemoveOne", InstallBoth, {"-r", "-k", "alpha"}, "remove", "removed-reference", true, "[\"ALPHA\"]",
                 "[]"},
        PlanCase{"RemoveLast", InstallAlpha, {"-r", "-k", "alpha"}, "remove", "removed-component", true,
                 "[\"ALPHA\"]", "[]"},
        // Killed inside the References enumeration after its reference went:
        // the rerun of the same removal finishes it, changing nothing more.
        PlanCase{"RemovalKilledAfterItsReferenceWent",
                 [](StatusEndToEnd* t) {
                   InstallBoth(t);
                   t->Machine().AddFault("RegEnumKeyExA", "References", emu::kFaultCrashHere);
                   ASSERT_EQ(t->Machine().Run({"-r", "-k", "alpha"}).status, 128 + 9);
                   emu::ClearFaultRules();
                 },
                 {"-r", "-k", "alpha"}, "remove", "removed-reference", false, "[]", "[]"},
        // The same image stored as REG_SZ: the registration rewrites it.
        PlanCase{"SameImageStoredAsRegSz",
                 [](StatusEndToEnd* t) {
                   InstallAlpha(t);
                   t->Machine().machine().Import("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
                                                 std::string(kReferencesKey) + "\\ALPHA]\r\n" +
                                                 "\"PreProcImage\"=\"C:\\\\Products\\\\Alpha\\\\pre.exe ALPHA\"\r\n");
                 },
                 kAlpha, "install", "registered", true, "[]", "[]"},
        PlanCase{"OlderNodeRefused", [](StatusEndToEnd* t) { t->SeedOlderNode(); }, kAlpha, "refused",
                 "refused-older-node", false, "[]", "[]"},
        PlanCase{"OverOlderNode",
                 [](StatusEndToEnd* t) {
                   InstallAlpha(t);
                   t->SeedOlderNode();
                 },
                 {"-g", "-k", "beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"}, "install", "upgraded", true,
                 "[\"ALPHA\"]", "[\"ALPHA\"]"}),
    [](const testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

TEST_F(StatusEndToEnd, DetectionFollowsTheInstallAndTheRemoval) {
  auto detect = [&] { return Status({"--detect", "Alpha"}); };
  testsupport::ProcessResult before = detect();
  EXPECT_EQ(before.status, 1);
  EXPECT_EQ(before.out, "");
  ASSERT_EQ(InstallAlpha().status, 0);
  testsupport::ProcessResult after = detect();
  EXPECT_EQ(after.status, 0);
  EXPECT_EQ(after.out, "ALPHA: registered, component 4.0 current, driver service vtrin defined\n");
  // Registered but without its driver service: not in place.
  m_.RemoveService("vtrin");
  EXPECT_EQ(detect().status, 1);
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(Run({"-r", "-k", "alpha"}).status, 0);
  testsupport::ProcessResult removed = detect();
  EXPECT_EQ(removed.status, 1);
  EXPECT_EQ(removed.out, "");
}

// The machine's database and SQLite's side files, byte for byte ("" for a
// file that is not there).
std::map<std::string, std::string> DatabaseFiles(const std::string& machine_dir) {
  std::map<std::string, std::string> files;
  for (const char* name : {"machine.db", "machine.db-wal", "machine.db-shm"}) {
    const std::string path = machine_dir + "/" + name;
    files[name] = testsupport::FileExists(path) ? "present:" + testsupport::ReadFile(path) : "";
  }
  return files;
}

// The tool started in the background, its output dropped.
pid_t StartTool(const std::string& release_dir, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(release_dir.c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    std::vector<char*> argv{const_cast<char*>("mevrid.exe")};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv("mevrid.exe", argv.data());
    _exit(127);
  }
  return pid;
}

// True once the process is stopped (by SIGSTOP), within a bound.
bool WaitUntilStopped(pid_t pid) {
  for (int tries = 0; tries < 10000; ++tries) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t state = text.rfind(')');
    if (state != std::string::npos && text.size() > state + 2 && text[state + 2] == 'T') return true;
    usleep(1000);
  }
  return false;
}

// A thousand calls of every mode, a quarter at each moment a reader meets
// the machine: with no writer and no side files, beside a program that has
// it open, while the install lock is held, and in the middle of an install
// (the tool stopped by a pre-processor). The database and its -wal and -shm stay
// byte for byte what they were, and no side file appears.
TEST_F(StatusEndToEnd, ItNeverWritesTheMachine) {
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(InstallBeta().status, 0);
  const std::string dir = m_.machine().dir();
  const std::vector<std::vector<std::string>> modes = {
      {}, {"--json", "--release", "."}, {"--plan", "-k", "gamma", "-p", "x"}, {"--plan", "-r", "-k", "alpha"},
      {"--plan", "-g", "-k", "alpha", "-p", "x"}, {"--detect", "beta"}};
  auto calls_at = [&](const char* moment) {
    SCOPED_TRACE(moment);
    const std::map<std::string, std::string> before = DatabaseFiles(dir);
    for (int call = 0; call < 250; ++call) {
      const testsupport::ProcessResult r = Status(modes[call % modes.size()]);
      ASSERT_TRUE(r.status == 0 || r.status == 1) << r.err;  // detection: 1 in the middle of an upgrade
      ASSERT_EQ(r.err, "");
    }
    EXPECT_TRUE(DatabaseFiles(dir) == before);
  };

  // Closed by the last program that had it open: no -wal, no -shm.
  emu::CloseMachine();
  ASSERT_FALSE(testsupport::FileExists(dir + "/machine.db-wal"));
  calls_at("no writer, no side files");
  EXPECT_FALSE(testsupport::FileExists(dir + "/machine.db-wal"));
  EXPECT_FALSE(testsupport::FileExists(dir + "/machine.db-shm"));

  const std::string registry = m_.Registry();  // this process opens it again
  calls_at("beside a program that has it open");
  ASSERT_TRUE(AcquireInstallLock());
  calls_at("the install lock held");
  ReleaseInstallLock();
  EXPECT_EQ(m_.Registry(), registry);

  // An upgrade tells ALPHA "-e": its pre-processor stops the tool there.
  // ("-e" and later "-b": only the first stops it).
  const std::string once = m_.release_dir() + "/../stopped-once";
  PutFile("C:\\Products\\Alpha\\pre.exe", "#!/bin/sh\nmkdir '" + once + "' 2>/dev/null && kill -STOP $PPID\n",
          1000000000);
  m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
  const pid_t tool = StartTool(m_.release_dir(), {"-k", "gamma", "-p", "C:\\Products\\Beta\\pre.exe GAMMA"});
  ASSERT_GT(tool, 0);
  const bool stopped = WaitUntilStopped(tool);
  if (stopped) calls_at("in the middle of an install");
  kill(tool, SIGCONT);
  int status = -1;
  ASSERT_EQ(waitpid(tool, &status, 0), tool);
  ASSERT_TRUE(stopped);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  // A machine that does not exist is not created by looking at it.
  const std::string absent = m_.release_dir() + "/no-machine";
  testsupport::ProcessResult none = Status({"--json"}, {"MEVRID_MACHINE=" + absent});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(Status({"--detect", "alpha"}, {"MEVRID_MACHINE=" + absent}).status, 1);
  EXPECT_FALSE(testsupport::FileExists(absent));
}

// A machine in a directory its reader may not write to (as root, the reader
// runs as nobody) is read as any other, with and without SQLite's side files.
TEST_F(StatusEndToEnd, AReadOnlyMachineDirectoryIsReadNormally) {
  ASSERT_EQ(InstallAlpha().status, 0);
  const std::vector<std::vector<std::string>> modes = {
      {"--json"}, {"--plan", "--json", "-k", "beta", "-p", "x"}, {"--detect", "alpha"}};
  std::vector<std::string> expected;
  for (const auto& args : modes) expected.push_back(Status(args).out);
  const std::string copy = m_.release_dir() + "/../read-only-machine";
  // The reader, and what it reads, where nobody may reach them.
  const std::string work = std::filesystem::path(m_.release_dir()).parent_path().string();
  chmod(work.c_str(), 0755);
  const std::string reader = work + "/mevrid-status";
  std::filesystem::copy_file(MEVRID_STATUS_TOOL, reader);
  for (const bool side_files : {true, false}) {
    SCOPED_TRACE(side_files ? "with -wal and -shm" : "the database alone");
    if (!side_files) emu::CloseMachine();  // the last to close removes them
    std::filesystem::remove_all(copy);
    // With the files' times, which the report shows.
    ASSERT_EQ(testsupport::RunProgram({"/bin/cp", "-a", m_.machine().dir(), copy}).status, 0);
    ASSERT_EQ(testsupport::FileExists(copy + "/machine.db-wal"), side_files);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(copy))
      chmod(entry.path().c_str(), entry.is_directory() ? 0555 : 0444);
    chmod(copy.c_str(), 0555);
    const std::map<std::string, std::string> before = DatabaseFiles(copy);
    for (size_t i = 0; i < modes.size(); ++i) {
      std::vector<std::string> argv = modes[i];
      argv.insert(argv.begin(), reader);
      if (geteuid() == 0) argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
      const testsupport::ProcessResult r = testsupport::RunProgram(argv, m_.release_dir(), {"MEVRID_MACHINE=" + copy});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, expected[i]);
    }
    EXPECT_TRUE(DatabaseFiles(copy) == before);
    chmod(copy.c_str(), 0755);
  }
}

TEST_F(StatusEndToEnd, TheReportShowsTheStateAndAHeldLock) {
  ASSERT_EQ(InstallAlpha().status, 0);
  PutFile(kInstalledTool, "older tool", 1000000000);
  ASSERT_TRUE(AcquireInstallLock());
  testsupport::ProcessResult held = Status({"--json", "--release", "."});
  ReleaseInstallLock();
  ASSERT_EQ(held.status, 0) << held.err;
  EXPECT_EQ(Field(held.out, "version"), "\"4.0\"");
  EXPECT_EQ(Field(held.out, "uninstaller"), "\"C:\\\\WINDOWS\\\\mevrid.exe\"");
  EXPECT_NE(held.out.find("{\"name\":\"ALPHA\",\"image\":\"C:\\\\Products\\\\Alpha\\\\pre.exe ALPHA\"}"),
            std::string::npos);
  EXPECT_NE(held.out.find("\"presence\":\"defined\",\"state\":\"running\",\"start_type\":\"auto\","
                          "\"image_path\":\"System32\\\\drivers\\\\vtrin.sys\""),
            std::string::npos);
  EXPECT_NE(held.out.find("\"path\":\"C:\\\\WINDOWS\\\\mevrid.exe\",\"present\":true,\"size\":10,"
                          "\"last_write\":\"2001-09-09T01:46:40Z\",\"release\":\"older\""),
            std::string::npos);
  EXPECT_EQ(Field(held.out, "install_lock_held"), "true");
  EXPECT_EQ(Field(Status({"--json"}).out, "install_lock_held"), "false");
}

// The uninstaller's own image, set aside by a removal run from it, waits for
// the next restart; the report names it until then.
TEST_F(StatusEndToEnd, TheReportShowsADeletionPendingForTheRestart) {
  ASSERT_EQ(InstallAlpha().status, 0);
  ASSERT_EQ(testsupport::RunProgram({Host(kInstalledTool), "-k", "alpha", "-r"}, Host("C:\\WINDOWS")).status, 0);
  const Lines pending = PendingDeletions();
  ASSERT_EQ(pending.size(), 1u);
  std::string escaped;
  for (char c : pending[0]) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  testsupport::ProcessResult json = Status({"--json"});
  EXPECT_EQ(Field(json.out, "pending_deletions"), "[\"" + escaped + "\"]");
  EXPECT_EQ(Field(json.out, "version"), "null");
  EXPECT_NE(Status({}).out.find("Deletions pending for the next restart\n  " + pending[0] + "\n"), std::string::npos);
  std::string error;
  ASSERT_TRUE(emu::admin::Reboot(&error)) << error;
  EXPECT_EQ(Field(Status({"--json"}).out, "pending_deletions"), "[]");
}

// A change left unfinished and the old files an all-or-nothing install keeps
// aside: the report names each entry of the marker and every kept-aside file
// there is, the library an older node keeps below the suite's path included
// only where that node keeps it there (3.3 and 3.4).
// Kept-aside files past an install's point of no return are leftovers that
// the next run deletes: the report says so.
TEST_F(StatusEndToEnd, TheReportNamesKeptAsideLeftoversToDelete) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.machine().Import(kRegHeader + "[HKEY_LOCAL_MACHINE\\" + kComponentKey + "]\r\n\"ChangeInProgress\"=\"Discard\"\r\n");
  const std::string text = Status({}).out;
  EXPECT_NE(text.find("Change in progress\n  kept-aside old files left to delete\nReferences\n"), std::string::npos)
      << text;
  const std::string json = Status({"--json"}).out;
  EXPECT_NE(json.find(",\"change_in_progress\":{\"install\":false,\"kept_aside\":false,\"discard\":true,"
                      "\"removals\":[]},"),
            std::string::npos)
      << json;
}

TEST_F(StatusEndToEnd, TheReportShowsAChangeInProgressAndTheFilesKeptAside) {
  ASSERT_EQ(InstallAlpha().status, 0);
  const std::string clean = Status({}).out;
  EXPECT_NE(clean.find("  Uninstaller: C:\\WINDOWS\\mevrid.exe\nChange in progress\n  (none)\nReferences\n"),
            std::string::npos)
      << clean;
  EXPECT_NE(clean.find("Old files kept aside\n  (none)\nDeletions pending"), std::string::npos) << clean;
  const std::string clean_json = Status({"--json"}).out;
  EXPECT_NE(clean_json.find(",\"change_in_progress\":{\"install\":false,\"kept_aside\":false,\"discard\":false,\"removals\":[]},"),
            std::string::npos);
  EXPECT_EQ(Field(clean_json, "kept_aside_files"), "[]");

  const std::string suite_library = "C:\\Suite\\bin\\qelmot32.dll.mevrid-kept";
  m_.machine().Import(kRegHeader + "[HKEY_LOCAL_MACHINE\\" + kComponentKey +
                      "]\r\n\"ChangeInProgress\"=\"Install\\\\KeptAside\\\\Remove BETA\"\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\r\n"
                      "\"Version\"=\"3.2\"\r\n\"DMIPath\"=\"C:\\\\DMI\"\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation]\r\n\"KelmPath\"=\"C:\\\\Suite\"\r\n");
  for (const char* path : {kInstalledLibrary, kInstalledDriver, kInstalledTool})
    PutFile(std::string(path) + ".mevrid-kept", "old", 1000000000);
  PutFile(suite_library, "old library", 1000000000);
  PutFile("C:\\WINDOWS\\system32\\vtrin.sys.mevrid-kept", "not ours", 1000000000);
  const std::string kept = "Old files kept aside\n"
                           "  C:\\WINDOWS\\system32\\qelmot32.dll.mevrid-kept: 3 bytes, written 2001-09-09T01:46:40Z\n"
                           "  C:\\WINDOWS\\system32\\drivers\\vtrin.sys.mevrid-kept: 3 bytes, written 2001-09-09T01:46:40Z\n"
                           "  C:\\WINDOWS\\mevrid.exe.mevrid-kept: 3 bytes, written 2001-09-09T01:46:40Z\n";
  const std::string text = Status({}).out;
  EXPECT_NE(text.find("Change in progress\n  an install left unfinished\n"
                      "  old files kept aside beside the installed ones\n  the removal of BETA left unfinished\n"
                      "References\n"),
            std::string::npos)
      << text;
  // A 3.2 node keeps its library in the system directory.
  EXPECT_NE(text.find(kept + "Deletions pending"), std::string::npos) << text;

  m_.machine().Import(kRegHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\r\n"
                      "\"Version\"=\"3.3\"\r\n");
  EXPECT_NE(Status({}).out.find(kept + "  " + suite_library + ": 11 bytes, written 2001-09-09T01:46:40Z\nDeletions"),
            std::string::npos);
  const std::string json = Status({"--json"}).out;
  EXPECT_NE(json.find(",\"change_in_progress\":{\"install\":true,\"kept_aside\":true,\"discard\":false,\"removals\":[\"BETA\"]},"),
            std::string::npos)
      << json;
  EXPECT_EQ(Field(json, "kept_aside_files"),
            "[{\"path\":\"C:\\\\WINDOWS\\\\system32\\\\qelmot32.dll.mevrid-kept\",\"size\":3,"
            "\"last_write\":\"2001-09-09T01:46:40Z\"},"
            "{\"path\":\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\vtrin.sys.mevrid-kept\",\"size\":3,"
            "\"last_write\":\"2001-09-09T01:46:40Z\"},"
            "{\"path\":\"C:\\\\WINDOWS\\\\mevrid.exe.mevrid-kept\",\"size\":3,\"last_write\":\"2001-09-09T01:46:40Z\"},"
            "{\"path\":\"C:\\\\Suite\\\\bin\\\\qelmot32.dll.mevrid-kept\",\"size\":11,"
            "\"last_write\":\"2001-09-09T01:46:40Z\"}]");
}

// An all-or-nothing upgrade killed at its driver copy leaves its marker and
// the three old files kept aside: the report names what the tool left, and
// nothing once the same upgrade has run again.
TEST_F(StatusEndToEnd, TheReportShowsWhatAKilledAllOrNothingUpgradeLeft) {
  ASSERT_EQ(InstallAlpha().status, 0);
  m_.machine().Import(kRegHeader + kVersionSection + "\"Version\"=\"3.9\"\r\n");
  m_.AddFault("CopyFileA", "vtrin.sys", emu::kFaultCrashHere);
  ASSERT_EQ(Run(kBeta, {"MEVRID_ROLLBACK=on"}).status, 128 + 9);
  emu::ClearFaultRules();
  const std::string json = Status({"--json"}).out;
  EXPECT_NE(json.find(",\"change_in_progress\":{\"install\":true,\"kept_aside\":true,\"discard\":false,\"removals\":[]},"),
            std::string::npos)
      << json;
  const std::string kept = Field(json, "kept_aside_files");
  for (const char* path : {"system32\\\\qelmot32.dll", "drivers\\\\vtrin.sys", "WINDOWS\\\\mevrid.exe"})
    EXPECT_NE(kept.find(std::string(path) + ".mevrid-kept\""), std::string::npos) << path << " in " << kept;
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '{'), 3) << kept;

  ASSERT_EQ(Run(kBeta, {"MEVRID_ROLLBACK=on"}).status, 0);
  const std::string after = Status({"--json"}).out;
  EXPECT_NE(after.find(",\"change_in_progress\":{\"install\":false,\"kept_aside\":false,\"discard\":false,\"removals\":[]},"),
            std::string::npos);
  EXPECT_EQ(Field(after, "kept_aside_files"), "[]");
}

// The plan says the mode only when it is on (exactly "on"); otherwise it
// reads byte for byte as a plan without the variable.
TEST_F(StatusEndToEnd, ThePlanSaysWhetherTheRollbackModeIsOn) {
  ASSERT_EQ(InstallAlpha().status, 0);
  for (const bool json : {false, true}) {
    std::vector<std::string> args = {"--plan", "-k", "beta", "-p", "C:\\Products\\Beta\\pre.exe BETA"};
    if (json) args.push_back("--json");
    const std::string off = Status(args).out;
    EXPECT_EQ(off.find("ollback"), std::string::npos) << off;
    for (const char* value : {"ON", "on ", "1", "yes", ""})
      EXPECT_EQ(Status(args, {std::string("MEVRID_ROLLBACK=") + value}).out, off) << value;
    const std::string on = Status(args, {"MEVRID_ROLLBACK=on"}).out;
    EXPECT_EQ(on, json ? off.substr(0, off.size() - 2) + ",\"rollback\":true}\n" : off + "Rollback: on\n");
  }
}

TEST_F(StatusEndToEnd, BadArgumentsGiveOneLineAndStatusTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--detect"}, {"--release"}, {"-k", "alpha"}, {"--plan", "--detect", "x"}, {"--plan", "-e"}}) {
    testsupport::ProcessResult r = Status(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_EQ(Status({"--help"}).status, 0);
}

}  // namespace
}  // namespace componente2e
