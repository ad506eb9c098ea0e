// The emulated registry's costs: creating a key, reading a value (alone and
// the tool's open-query-close), and a full RegEnumKeyExA walk over 1 000 and
// 10 000 subkeys. The walk should cost about ten times more for ten times the
// keys (linear); the backwards walk, which cannot use the handle's cursor,
// shows what counting rows out from the start each time would cost.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/posix/admin.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

constexpr const char* kParent = "SOFTWARE\\Bench\\Many";

// n subkeys below kParent, written in one transaction.
void SeedSubkeys(int64_t n) {
  emu::admin::Batch batch;
  emu::admin::CreateKey(kParent);
  for (int64_t i = 0; i < n; ++i) emu::admin::CreateKey(std::string(kParent) + "\\Reference" + std::to_string(i), "REG_SZ");
  batch.Commit();
}

HKEY OpenParent() {
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParent, 0, KEY_READ, &key);
  return key;
}

void BM_CreateKey(benchmark::State& state) {
  testsupport::TestMachine machine;
  int64_t i = 0;
  for (auto _ : state) {
    std::string path = "SOFTWARE\\Bench\\Created\\Key" + std::to_string(i++);
    HKEY key = nullptr;
    char key_class[] = "REG_SZ";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, key_class, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
      state.SkipWithError("RegCreateKeyExA failed");
    RegCloseKey(key);
  }
}
BENCHMARK(BM_CreateKey)->Unit(benchmark::kMicrosecond);

void BM_QueryValue(benchmark::State& state) {
  testsupport::TestMachine machine;
  machine.Import("REGEDIT4\n[HKLM\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\n\"Version\"=\"4.0\"\n");
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion", 0, KEY_READ,
                &key);
  for (auto _ : state) {
    BYTE data[260];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, "Version", nullptr, nullptr, data, &size) != ERROR_SUCCESS)
      state.SkipWithError("RegQueryValueExA failed");
    benchmark::DoNotOptimize(data);
  }
  RegCloseKey(key);
}
BENCHMARK(BM_QueryValue)->Unit(benchmark::kMicrosecond);

// What every value read of the tool does: open, query, close.
void BM_OpenQueryClose(benchmark::State& state) {
  testsupport::TestMachine machine;
  machine.Import("REGEDIT4\n[HKLM\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\n\"Version\"=\"4.0\"\n");
  for (auto _ : state) {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion", 0, KEY_READ,
                  &key);
    BYTE data[260];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, "Version", nullptr, nullptr, data, &size) != ERROR_SUCCESS)
      state.SkipWithError("RegQueryValueExA failed");
    RegCloseKey(key);
  }
}
BENCHMARK(BM_OpenQueryClose)->Unit(benchmark::kMicrosecond);

void BM_EnumerateSubkeys(benchmark::State& state) {
  testsupport::TestMachine machine;
  SeedSubkeys(state.range(0));
  HKEY parent = OpenParent();
  for (auto _ : state) {
    int64_t count = 0;
    for (DWORD i = 0;; ++i) {
      char name[MAX_PATH];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(parent, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      ++count;
    }
    if (count != state.range(0)) state.SkipWithError("walk missed keys");
  }
  RegCloseKey(parent);
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnumerateSubkeys)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_EnumerateSubkeysBackwards(benchmark::State& state) {
  testsupport::TestMachine machine;
  SeedSubkeys(state.range(0));
  HKEY parent = OpenParent();
  for (auto _ : state) {
    for (int64_t i = state.range(0) - 1; i >= 0; --i) {
      char name[MAX_PATH];
      DWORD size = sizeof name;
      RegEnumKeyExA(parent, static_cast<DWORD>(i), name, &size, nullptr, nullptr, nullptr, nullptr);
    }
  }
  RegCloseKey(parent);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EnumerateSubkeysBackwards)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
