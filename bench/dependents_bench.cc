// The emulated EnumDependentServicesA over many dependents: n services in
// one chain (each depending on the one before) and n side by side (each on
// the queried service), answered into the tool's 1440-byte buffer
// (ERROR_MORE_DATA). Both should cost about ten times more for ten times the
// services (linear), and a chain of any length must not exhaust the stack.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

void SeedDependents(int64_t n, bool chain) {
  emu::admin::Batch batch;
  emu::admin::ServiceSpec base;
  base.name = "Base";
  base.state = SERVICE_RUNNING;
  std::string error;
  emu::admin::DefineService(base, &error);
  for (int64_t i = 0; i < n; ++i) {
    emu::admin::ServiceSpec spec;
    spec.name = "Dependent" + std::to_string(i);
    spec.state = SERVICE_RUNNING;
    spec.depends = {chain && i > 0 ? "Dependent" + std::to_string(i - 1) : "Base"};
    emu::admin::DefineService(spec, &error);
  }
  batch.Commit();
}

void EnumDependents(benchmark::State& state, bool chain) {
  testsupport::TestMachine machine;
  SeedDependents(state.range(0), chain);
  ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScopedService base(OpenServiceA(manager.Get(), "Base", SERVICE_ENUMERATE_DEPENDENTS));
  alignas(ENUM_SERVICE_STATUSA) unsigned char buffer[1440];
  for (auto _ : state) {
    DWORD needed = 0, count = 0;
    if (EnumDependentServicesA(base.Get(), SERVICE_ACTIVE, reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer),
                               sizeof buffer, &needed, &count) ||
        GetLastError() != ERROR_MORE_DATA)
      state.SkipWithError("EnumDependentServicesA did not answer ERROR_MORE_DATA");
  }
  state.SetComplexityN(state.range(0));
}

void BM_EnumDependentsChain(benchmark::State& state) { EnumDependents(state, true); }
void BM_EnumDependentsSideBySide(benchmark::State& state) { EnumDependents(state, false); }
BENCHMARK(BM_EnumDependentsChain)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_EnumDependentsSideBySide)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
