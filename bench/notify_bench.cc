// The notification walk against the floor of the platform. Ours is one
// NotifyAllReferencesEnd (quiet) over n references on a machine with a
// virtual clock, each naming a pre-processor that ends at once; the floor is
// the same program started and waited for n times with posix_spawn and
// waitpid, nothing around it. A walk may cost a little more per reference
// than a bare spawn (a registry enumeration step, a key opened and read, a
// process handle pair), but that extra must not grow with n.
#include <spawn.h>
#include <sys/wait.h>

#include <string>

#include <benchmark/benchmark.h>

#include "bench/support/bench_support.h"
#include "component/notifications.h"
#include "tests/support/test_machine.h"

extern char** environ;

namespace {

void PerReference(benchmark::State& state) {
  // Seconds per reference, as Google Benchmark prints a rate inverted.
  state.counters["per_ref"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void NotifyWalkOurs(benchmark::State& state) {
  testsupport::TestMachine machine;
  if (benchsupport::InstallPreProc(machine.DriveC()).empty() ||
      !benchsupport::SeedReferences(state.range(0), benchsupport::kPreProcImage)) {
    state.SkipWithError("cannot set up the machine");
    return;
  }
  benchsupport::PeakMemory memory;
  for (auto _ : state)
    if (!NotifyAllReferencesEnd(0)) state.SkipWithError("the walk stopped early");
  PerReference(state);
  memory.Report(state);
}

// The floor: the same program spawned and waited for n times; with
// new_session, each in a session of its own as the walk starts them.
void SpawnLoop(benchmark::State& state, bool new_session) {
  testsupport::TestMachine machine;
  const std::string program = benchsupport::InstallPreProc(machine.DriveC());
  // The arguments the walk passes: the switch and the quiet flag.
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("-e"), const_cast<char*>("-q"), nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (new_session) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  benchsupport::PeakMemory memory;
  for (auto _ : state) {
    for (int64_t i = 0; i < state.range(0); ++i) {
      pid_t pid;
      if (posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv, environ) != 0) {
        state.SkipWithError("posix_spawn failed");
        return;
      }
      int status;
      waitpid(pid, &status, 0);
    }
  }
  posix_spawnattr_destroy(&attributes);
  PerReference(state);
  memory.Report(state);
}
void NotifyWalkFloor(benchmark::State& state) { SpawnLoop(state, false); }

// What the walk's "console of its own" costs on this host: a pre-processor
// runs in a session of its own (setsid), which the floor's bare spawn does
// not ask for. spawn_setsid isolates that cost (the same spawns with and
// without POSIX_SPAWN_SETSID), and notify_walk_sid holds the walk against
// a floor that pays it too, which leaves the walk's own cost.
void NewSessionOurs(benchmark::State& state) { SpawnLoop(state, true); }

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

const auto* ours = benchmark::RegisterBenchmark("notify_walk/ours", NotifyWalkOurs)->Apply(Sizes);
const auto* floor = benchmark::RegisterBenchmark("notify_walk/floor", NotifyWalkFloor)->Apply(Sizes);
const auto* sid_ours = benchmark::RegisterBenchmark("notify_walk_sid/ours", NotifyWalkOurs)
                           ->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
const auto* sid_floor = benchmark::RegisterBenchmark("notify_walk_sid/floor", NewSessionOurs)
                            ->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
const auto* session_ours = benchmark::RegisterBenchmark("spawn_setsid/ours", NewSessionOurs)
                               ->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
const auto* session_floor = benchmark::RegisterBenchmark("spawn_setsid/floor", NotifyWalkFloor)
                                ->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
