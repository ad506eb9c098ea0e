// The emulated machine's own costs that every emulated call or program pays:
// a settings lookup (the clock's kind is asked on every wait and every
// reading of the time) against a row read through a statement prepared once
// on a plain SQLite database; and opening the machine (what every program
// run on it does first) against opening a plain WAL database.
#include <sqlite3.h>

#include <string>

#include <benchmark/benchmark.h>

#include "bench/support/bench_support.h"
#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "tests/support/test_machine.h"

namespace {

void SettingLookupOurs(benchmark::State& state) {
  testsupport::TestMachine machine;
  benchsupport::PeakMemory memory;
  for (auto _ : state)
    for (int64_t i = 0; i < state.range(0); ++i)
      if (!emu::IsVirtualClock()) state.SkipWithError("the test machine's clock is not virtual");
  memory.Report(state);
}

void SettingLookupFloor(benchmark::State& state) {
  benchsupport::PlainDatabase db;
  db.InsertRow(1, "virtual");
  benchsupport::PeakMemory memory;
  std::string text;
  for (auto _ : state)
    for (int64_t i = 0; i < state.range(0); ++i)
      if (!db.ReadRow(1, &text) || text != "virtual") state.SkipWithError("row read failed");
  memory.Report(state);
}

// Both sides open while another connection holds the database, as the tool
// opens its machine while the machine tool or a test holds it (and so that
// neither pays the checkpoint of a last connection closing).
void MachineOpenOurs(benchmark::State& state) {
  const std::string dir = testsupport::MakeTempDir("mevrid-bench-open");
  std::string error;
  if (!emu::OpenMachine(dir, true, &error)) return state.SkipWithError(error.c_str());
  emu::CloseMachine();
  sqlite3* holder = nullptr;
  sqlite3_open_v2((dir + "/machine.db").c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(holder, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);  // opens the WAL
  benchsupport::PeakMemory memory;
  for (auto _ : state) {
    if (!emu::OpenMachine(dir, false, &error)) state.SkipWithError(error.c_str());
    emu::CloseMachine();
  }
  memory.Report(state);
  sqlite3_close(holder);
  testsupport::RemoveTree(dir);
}

void MachineOpenFloor(benchmark::State& state) {
  benchsupport::PlainDatabase db;  // the holding connection
  benchsupport::PeakMemory memory;
  for (auto _ : state) {
    sqlite3* connection = nullptr;
    if (sqlite3_open_v2(db.path().c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      state.SkipWithError("open failed");
    sqlite3_exec(connection, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_close(connection);
  }
  memory.Report(state);
}

void Unit(benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMicrosecond)->UseRealTime(); }

const auto* lookup_ours = benchmark::RegisterBenchmark("setting_lookup/ours", SettingLookupOurs)
                              ->Arg(1000)->Apply(Unit);
const auto* lookup_floor = benchmark::RegisterBenchmark("setting_lookup/floor", SettingLookupFloor)
                               ->Arg(1000)->Apply(Unit);
const auto* open_ours = benchmark::RegisterBenchmark("machine_open/ours", MachineOpenOurs)->Apply(Unit);
const auto* open_floor = benchmark::RegisterBenchmark("machine_open/floor", MachineOpenFloor)->Apply(Unit);

}  // namespace

BENCHMARK_MAIN();
