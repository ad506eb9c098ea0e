// Fault rules, call counts and the call trace.
#include "platform/posix/admin.h"

#include <signal.h>

#include <cstdlib>

#include "platform/posix/machine/current_machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/machine/fault_check.h"

namespace emu {
namespace {

struct FaultRule {
  int64_t id;
  std::string operation;
  std::string match;
  DWORD error;
  int64_t nth;
  bool always;
  int64_t seen_hits = 0;  // the database's count as this process last saw it
  int64_t unsaved = 0;    // hits counted here but not yet written back
};
std::vector<FaultRule> g_faults;
bool g_faults_loaded = false;
std::vector<std::string>* g_call_trace = nullptr;

// Writes back the hits that settled rules counted in memory (see CheckFault).
void SaveUnsavedHits() {
  if (!MachineIsOpen() || MachineIsReadOnly()) return;
  for (FaultRule& rule : g_faults) {
    if (rule.unsaved == 0) continue;
    Statement save(Db(), "UPDATE faults SET hits=hits+?2 WHERE id=?1");
    save.Bind(1, rule.id).Bind(2, rule.unsaved);
    save.Run();
    rule.unsaved = 0;
  }
}

void LoadFaults() {
  SaveUnsavedHits();
  g_faults.clear();
  Statement st(Db(), "SELECT id, operation, match, error, nth, always FROM faults ORDER BY id");
  while (st.Step() == SQLITE_ROW)
    g_faults.push_back({st.Int(0), st.Text(1), st.Text(2), static_cast<DWORD>(st.Int(3)), st.Int(4), st.Int(5) != 0});
  g_faults_loaded = true;
}

}  // namespace

void SetCallTrace(std::vector<std::string>* trace) { g_call_trace = trace; }

DWORD CheckFault(const char* operation, const std::string& match) {
  if (g_call_trace) g_call_trace->push_back(std::string(operation) + " " + match);
  // The rules and the counts are for the programs a test runs on the
  // machine; a reader of it (mevrid-status) writes neither hits nor counts,
  // and so takes no call from a rule meant for them.
  if (MachineIsReadOnly()) return 0;
  static bool count_calls = false;
  if (!g_faults_loaded) {
    LoadFaults();
    count_calls = GetSetting("count-calls") == "1";
  }
  if (count_calls) {
    Statement st(Db(),
                 "INSERT INTO call_counts(operation, calls) VALUES(?1, 1)"
                 " ON CONFLICT(operation) DO UPDATE SET calls=calls+1");
    st.Bind(1, operation);
    st.Run();
  }
  if (g_faults.empty()) return 0;
  std::string upper_match = Upper(match);
  for (FaultRule& rule : g_faults) {
    if (rule.operation != "*" && !EqualsNoCase(rule.operation, operation)) continue;
    if (!rule.match.empty() && upper_match.find(Upper(rule.match)) == std::string::npos) continue;
    // Once the n-th call has been made, a rule's answer is settled: an
    // "always" rule fails every later call, a "once" rule none. Its hits are
    // then only a report, counted here and written back in batches, at exit
    // and when the rules are read: a loop of thousands of calls under such
    // a rule (tmpnam trying every name) would otherwise commit once per call.
    if (rule.seen_hits >= rule.nth) {
      static bool save_at_exit = (atexit(SaveUnsavedHits), true);
      (void)save_at_exit;
      if (++rule.unsaved >= 4096) SaveUnsavedHits();
      if (rule.always) return rule.error;
      continue;
    }
    // The hit count lives in the database so that it counts calls across
    // every process that uses the machine (the tool and its children).
    Transaction tx;
    Statement bump(Db(), "UPDATE faults SET hits=hits+1 WHERE id=?1 RETURNING hits");
    bump.Bind(1, rule.id);
    int64_t hits = bump.Step() == SQLITE_ROW ? bump.Int(0) : 0;
    bump.Reset();
    tx.Commit();
    rule.seen_hits = hits;
    if (hits == rule.nth || (rule.always && hits >= rule.nth)) {
      // The test's stand-in for a power cut or a killed installer: the
      // process dies at this very call, its committed work kept as it is.
      if (rule.error == kFaultCrashHere) raise(SIGKILL);
      return rule.error;
    }
  }
  return 0;
}

bool AddFaultRule(const std::string& operation, const std::string& match, DWORD error, int64_t nth, bool always) {
  Statement st(Db(), "INSERT INTO faults(operation, match, error, nth, always) VALUES(?1, ?2, ?3, ?4, ?5)");
  st.Bind(1, operation).Bind(2, match).Bind(3, static_cast<int64_t>(error)).Bind(4, nth).Bind(5, always ? 1 : 0);
  g_faults_loaded = false;
  return st.Run();
}

std::vector<FaultRuleInfo> ListFaultRules() {
  SaveUnsavedHits();
  std::vector<FaultRuleInfo> rules;
  Statement st(Db(), "SELECT id, operation, match, error, nth, always, hits FROM faults ORDER BY id");
  while (st.Step() == SQLITE_ROW)
    rules.push_back(
        {st.Int(0), st.Text(1), st.Text(2), static_cast<DWORD>(st.Int(3)), st.Int(4), st.Int(5) != 0, st.Int(6)});
  return rules;
}

bool ClearFaultRules() {
  g_faults.clear();
  g_faults_loaded = false;
  return Exec(Db(), "DELETE FROM faults") && Exec(Db(), "DELETE FROM call_counts");
}

std::vector<std::pair<std::string, int64_t>> CallCounts() {
  std::vector<std::pair<std::string, int64_t>> counts;
  Statement st(Db(), "SELECT operation, calls FROM call_counts ORDER BY operation");
  while (st.Step() == SQLITE_ROW) counts.emplace_back(st.Text(0), st.Int(1));
  return counts;
}

bool ResetCallCounts() { return Exec(Db(), "DELETE FROM call_counts"); }

void ReloadFaultRules() { g_faults_loaded = false; }

void ForgetFaultRules() {
  SaveUnsavedHits();
  g_faults.clear();
  g_faults_loaded = false;
}

}  // namespace emu
