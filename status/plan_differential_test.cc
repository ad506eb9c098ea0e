// The plan against the run, on random machines: for each state drawn from a
// fixed seed, mevrid-status's plan is asked first, then the tool runs for
// real in this process on the same machine, and the record it writes (mode,
// outcome, changed) and the pre-processors its log shows told "-e" and "-b",
// in order, must be what the plan said. One machine serves every state: it
// is cleared and seeded anew each time, which costs far less than a new one.
// MEVRID_DIFFERENTIAL_SEED draws another series of states.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "cli/option_parser.h"
#include "component/component_keys.h"
#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "status/run_plan.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"
#include "tests/support/text_lines.h"

namespace {

constexpr uint32_t kSeed = 18005;
constexpr int kStates = 1000;
constexpr uint32_t kStopped = 1;
constexpr uint32_t kRunning = 4;
constexpr time_t kOld = 1000000000;

constexpr char kOlderNodeKey[] = "SOFTWARE\\Kelm\\KelmZAQ\\Current Version";
constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

const char* const kNames[] = {"ALPHA", "BETA", "GAMMA", "BROMVELD"};
const char* const kNodeServices[] = {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent", "SNMP", "win32sl"};

struct InstalledFile {
  const char* windows_path;
  const char* release;
};
const InstalledFile kFiles[] = {{"C:\\WINDOWS\\mevrid.exe", "mevrid.exe"},
                                {"C:\\WINDOWS\\system32\\qelmot32.dll", "nt_node/qelmot32.dll"},
                                {"C:\\WINDOWS\\system32\\drivers\\vtrin.sys", "nt_node/vtrin.sys"}};

// The image each reference registers: a program that does not exist, so the
// run's attempt to start it shows in its log at no cost, named so the
// attempt can be traced back to its reference.
std::string ImageOf(const std::string& name) {
  return name == "BROMVELD" ? "%SystemRoot%\\mevrid.exe -o" : "C:\\Pre\\" + name + ".exe";
}

// The reference a logged command line was formed for, and its switch.
bool Notified(const std::string& line, std::string* name, bool* end) {
  const size_t at = line.find("\"");
  if (at == std::string::npos) return false;
  const bool launched = line.find(" pre-processor \"") != std::string::npos;
  if (!launched && line.find(" CreateProcessA failed") == std::string::npos) return false;
  const std::string command = line.substr(at + 1, line.find('"', at + 1) - at - 1);
  *end = command.find(" -e") != std::string::npos;
  if (command.find("mevrid.exe -o") != std::string::npos) {
    *name = "BROMVELD";
  } else {
    const size_t pre = command.find("\\Pre\\");
    if (pre == std::string::npos) return false;
    *name = command.substr(pre + 5, command.find(".exe", pre) - pre - 5);
  }
  return true;
}

// One field of a flat JSON object, as its raw text.
std::string Field(const std::string& json, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  size_t start = json.find(tag);
  if (start == std::string::npos) return "<missing>";
  start += tag.size();
  size_t end = json[start] == '"' ? json.find('"', start + 1) + 1 : json.find_first_of(",}", start);
  return json.substr(start, end - start);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return "[" + text + "]";
}

class PlanDifferential : public testing::Test {
 protected:
  void SetUp() override {
    work_ = testsupport::MakeTempDir("mevrid-differential");
    release_ = testsupport::MakeReleaseCopy(work_);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    saved_cwd_ = cwd;
    ASSERT_EQ(chdir(release_.c_str()), 0);
  }
  void TearDown() override {
    unsetenv("MEVRID_LOG");
    unsetenv("MEVRID_RESULT_FILE");
    ASSERT_EQ(chdir(saved_cwd_.c_str()), 0);
    testsupport::RemoveTree(work_);
  }

  std::string Host(const std::string& windows_path) const { return machine_.HostPath(windows_path); }

  // Back to a machine that holds nothing of the suite.
  void Clear() {
    emu::admin::DeleteKeyTree("SOFTWARE\\Kelm Computer Corporation");
    emu::admin::DeleteKeyTree("SOFTWARE\\Kelm");
    emu::admin::DeleteValue(kSessionManagerKey, "PendingFileRenameOperations");
    std::string error;
    for (const auto& info : emu::admin::ListServices()) emu::admin::RemoveServiceDefinition(info.name, &error);
    for (const InstalledFile& file : kFiles) unlink(Host(file.windows_path).c_str());
  }

  void PutFile(const InstalledFile& file, int age) {
    const std::string to = Host(file.windows_path);
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    struct stat release {};
    ASSERT_EQ(stat((release_ + "/" + file.release).c_str(), &release), 0);
    time_t when = release.st_mtime;
    if (age == 0) {
      std::filesystem::copy_file(release_ + "/" + file.release, to,
                                 std::filesystem::copy_options::overwrite_existing);
    } else {
      ASSERT_TRUE(testsupport::WriteFile(to, "an installed copy"));
      when = age < 0 ? kOld : release.st_mtime + 3600;
    }
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, to.c_str(), times, 0), 0);
  }

  // A driver service deleted while it runs: marked for deletion until it
  // stops and its last handle closes.
  static void MarkDriverForDelete() {
    ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedService driver(OpenServiceA(manager.Get(), "vtrin", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(DeleteService(driver.Get()));
  }

  // Draws one machine and one command line; returns the arguments.
  std::vector<std::string> Seed(std::mt19937* random, std::string* described) {
    auto pick = [&](int n) { return static_cast<int>((*random)() % n); };
    Clear();
    std::string what;
    // One state in three is a current component, where a run only
    // registers unless a marker or a missing driver service says otherwise.
    const bool current = pick(3) == 0;
    const char* const versions[] = {nullptr, "3.9", "4.0", "4.0", "4.0", "5.0", "4", "x.y"};
    const char* version = current ? "4.0" : versions[pick(8)];
    if (version) {
      emu::admin::SetValue(kKotaVersionKey, "Version", REG_SZ, version);
      if (pick(8) != 0) emu::admin::SetValue(kKotaVersionKey, "UnInstallImage", REG_EXPAND_SZ, "C:\\WINDOWS\\mevrid.exe");
      what += std::string("version ") + version;
    }
    for (const InstalledFile& file : kFiles) {
      const int state = current ? 2 + pick(2) : pick(4);  // missing, older, same, newer
      if (state > 0) PutFile(file, state == 1 ? -1 : state == 2 ? 0 : 1);
      what += std::string(", ") + file.release + " " + "-osn"[state];
    }
    const int driver = current ? 1 + pick(2) : pick(5);  // absent, running, stopped, marked, absent
    if (driver >= 1 && driver <= 3) {
      std::string error;
      EXPECT_TRUE(emu::admin::DefineService(testsupport::DriverService(driver == 2 ? kStopped : kRunning), &error));
      if (driver == 3) MarkDriverForDelete();
    }
    what += std::string(", driver ") + "arsmA"[driver];
    for (const char* name : kNames) {
      if (pick(2)) continue;
      const std::string key = std::string(kKotaReferencesKey) + "\\" + name;
      const int image = pick(6);  // REG_EXPAND_SZ mostly, REG_SZ, none
      if (image == 5)
        emu::admin::CreateKey(key);
      else
        emu::admin::SetValue(key, "PreProcImage", image == 4 ? REG_SZ : REG_EXPAND_SZ, ImageOf(name));
      what += std::string(", ") + name + (image == 5 ? "(no image)" : image == 4 ? "(REG_SZ)" : "");
    }
    const char* const nodes[] = {nullptr, nullptr, "3.2", "3.3", "3.5"};
    if (const char* node = nodes[pick(5)]) {
      emu::admin::SetValue(kOlderNodeKey, "Version", REG_SZ, std::string(node) + '\0');
      emu::admin::SetValue(kOlderNodeKey, "DMIPath", REG_SZ, std::string("C:\\DMI") + '\0');
      std::string error;
      for (const char* service : kNodeServices)
        EXPECT_TRUE(emu::admin::DefineService(testsupport::Service(service, kRunning), &error)) << error;
      what += std::string(", node ") + node;
    }
    const std::string caller = kNames[pick(7) % 4];
    // Markers as interrupted runs leave them, one entry or several.
    const char* const markers[] = {nullptr, nullptr, "Install", "Remove ", "Remove BROMVELD", "Remove OTHER",
                                   "Install\\Remove ", "Remove OTHER\\Remove BROMVELD"};
    if (const char* marker = markers[pick(8)]) {
      std::string text = marker;
      if (text.back() == ' ') text += caller;
      emu::admin::SetValue(kKotaComponentKey, "ChangeInProgress", REG_SZ, text);
      what += ", marker " + text;
    }
    std::vector<std::string> args = {"mevrid.exe", "-k", caller};
    if (pick(2))
      args.push_back("-r");
    else
      args.insert(args.end(), {"-p", ImageOf(caller)});
    if (pick(3) == 0) args.push_back("-g");
    if (pick(2)) args.push_back("-q");
    for (size_t i = 1; i < args.size(); ++i) what += (i == 1 ? ": " : " ") + args[i];
    *described = what;
    return args;
  }

  RunPlan Plan(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    RunOptions options;
    const ParseOutcome parse = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &options);
    return PlanRun(parse, options);
  }

  // The tool in this process, its console output thrown away; the record
  // and the log it wrote.
  void RunTool(const std::vector<std::string>& args, std::string* record, std::vector<std::string>* log) {
    const std::string record_path = work_ + "/record.json";
    const std::string log_path = work_ + "/run.log";
    unlink(record_path.c_str());
    unlink(log_path.c_str());
    setenv("MEVRID_RESULT_FILE", record_path.c_str(), 1);
    setenv("MEVRID_LOG", log_path.c_str(), 1);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    RunMevrid(static_cast<int>(copy.size()), argv.data());
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    *record = testsupport::ReadFile(record_path);
    *log = testsupport::SplitLines(testsupport::ReadFile(log_path));
  }

  testsupport::TestMachine machine_;
  std::string work_, release_, saved_cwd_;
};

TEST_F(PlanDifferential, ThePlanIsTheRunOnRandomMachines) {
  uint32_t seed = kSeed;
  if (const char* given = getenv("MEVRID_DIFFERENTIAL_SEED")) seed = static_cast<uint32_t>(strtoul(given, nullptr, 10));
  std::mt19937 random(seed);
  int mismatches = 0;
  std::map<std::string, int> outcomes;
  for (int state = 0; state < kStates && mismatches < 5; ++state) {
    std::string described;
    const std::vector<std::string> args = Seed(&random, &described);
    if (testing::Test::HasFatalFailure()) return;
    const RunPlan plan = Plan(args);
    std::string record;
    std::vector<std::string> log;
    RunTool(args, &record, &log);
    std::vector<std::string> told_end, told_begin;
    for (const std::string& line : log) {
      std::string name;
      bool end = false;
      if (Notified(line, &name, &end)) (end ? told_end : told_begin).push_back(name);
    }
    const std::string planned = Quoted(RunModeName(plan.Mode)) + " " + Quoted(RunOutcomeName(plan.Outcome)) + " " +
                                (plan.Changed ? "true" : "false") + " -e " + Join(plan.NotifyEnd) + " -b " +
                                Join(plan.NotifyBegin);
    const std::string ran = Field(record, "mode") + " " + Field(record, "outcome") + " " + Field(record, "changed") +
                            " -e " + Join(told_end) + " -b " + Join(told_begin);
    ++outcomes[Field(record, "outcome")];
    if (planned != ran) {
      ++mismatches;
      ADD_FAILURE() << "state " << state << " (seed " << seed << "): " << described << "\n  plan: " << planned
                    << " (" << plan.DecidedBy << ")\n  run:  " << ran << "\n  record: " << record;
    }
  }
  printf("plan against run: %d random machine states, seed %u, %d mismatches;", kStates, seed, mismatches);
  for (const auto& [outcome, count] : outcomes) printf(" %s %d", outcome.c_str(), count);
  printf("\n");
  // Every outcome a reference request can have was met.
  for (const char* outcome : {"\"installed\"", "\"upgraded\"", "\"registered\"", "\"removed-reference\"",
                              "\"removed-component\"", "\"refused-older-node\"", "\"failed\""})
    EXPECT_GT(outcomes[outcome], 0) << outcome;
}

}  // namespace
