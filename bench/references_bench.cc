// Registering and removing references one by one, against the floor of the
// store: the same number of single-row transactions on a plain SQLite
// database journalled like the machine's. One RegisterReference is a key
// created (and its parents found) and a value written; one DeleteReference is
// a key found and deleted with its values. Each is at least one durable
// transaction, which is what the floor costs.
#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/support/bench_support.h"
#include "component/component_keys.h"
#include "component/references.h"
#include "platform/posix/admin.h"
#include "tests/support/test_machine.h"

namespace {

std::string ReferenceName(int64_t i) {
  char name[32];
  snprintf(name, sizeof name, "PRODUCT%05lld", static_cast<long long>(i));
  return name;
}

// Drops the References key with everything below it, outside the timing.
void ClearReferences() {
  emu::admin::DeleteKeyTree(kKotaReferencesKey);
}

void PerOperation(benchmark::State& state) {
  state.counters["per_op"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void RegisterOurs(benchmark::State& state) {
  testsupport::TestMachine machine;
  benchsupport::PeakMemory memory;
  benchsupport::TimeThenUndo(
      state,
      [&] {
        for (int64_t i = 0; i < state.range(0); ++i)
          if (!RegisterReference(ReferenceName(i).c_str(), benchsupport::kPreProcImage, 0))
            state.SkipWithError("RegisterReference failed");
      },
      ClearReferences);
  PerOperation(state);
  memory.Report(state);
}

void RegisterFloor(benchmark::State& state) {
  benchsupport::PlainDatabase db;
  benchsupport::PeakMemory memory;
  benchsupport::TimeThenUndo(
      state,
      [&] {
        for (int64_t i = 0; i < state.range(0); ++i)
          if (!db.InsertRow(i + 1, ReferenceName(i))) state.SkipWithError("insert failed");
      },
      [&] {
        for (int64_t i = 0; i < state.range(0); ++i) db.DeleteRow(i + 1);
      });
  PerOperation(state);
  memory.Report(state);
}

void DeleteOurs(benchmark::State& state) {
  testsupport::TestMachine machine;
  benchsupport::PeakMemory memory;
  benchsupport::PrepareThenTime(
      state, [&] { benchsupport::SeedReferences(state.range(0), benchsupport::kPreProcImage); },
      [&] {
        for (int64_t i = 0; i < state.range(0); ++i)
          if (!DeleteReference(ReferenceName(i).c_str(), 0)) state.SkipWithError("DeleteReference failed");
      });
  PerOperation(state);
  memory.Report(state);
}

void DeleteFloor(benchmark::State& state) {
  benchsupport::PlainDatabase db;
  benchsupport::PeakMemory memory;
  benchsupport::PrepareThenTime(
      state,
      [&] {
        for (int64_t i = 0; i < state.range(0); ++i) db.InsertRow(i + 1, ReferenceName(i));
      },
      [&] {
        for (int64_t i = 0; i < state.range(0); ++i)
          if (!db.DeleteRow(i + 1)) state.SkipWithError("delete failed");
      });
  PerOperation(state);
  memory.Report(state);
}

void Size(benchmark::internal::Benchmark* b) { b->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime(); }

const auto* register_ours = benchmark::RegisterBenchmark("register_refs/ours", RegisterOurs)->Apply(Size);
const auto* register_floor = benchmark::RegisterBenchmark("register_refs/floor", RegisterFloor)->Apply(Size);
const auto* delete_ours = benchmark::RegisterBenchmark("delete_refs/ours", DeleteOurs)->Apply(Size);
const auto* delete_floor = benchmark::RegisterBenchmark("delete_refs/floor", DeleteFloor)->Apply(Size);

}  // namespace

BENCHMARK_MAIN();
