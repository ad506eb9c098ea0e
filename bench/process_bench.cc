// The cost of starting a pre-processor: one CreateProcessA, a wait for its
// end and the two CloseHandle calls of the emulation, against the bare host
// calls (posix_spawn and waitpid) for the same trivial program.
#include <spawn.h>
#include <sys/wait.h>

#include <string>

#include <benchmark/benchmark.h>

#include "platform/win32.h"
#include "tests/support/test_machine.h"

extern char** environ;

namespace {

const std::string kHelper = testsupport::HelpersDir() + "/exit_with";

void BM_CreateProcessWaitClose(benchmark::State& state) {
  testsupport::TestMachine machine(/*virtual_clock=*/false);
  if (!testsupport::WriteFile(machine.HostPath("C:\\bin\\exit.exe"), testsupport::ReadFile(kHelper), true)) {
    state.SkipWithError("cannot install the helper program");
    return;
  }
  for (auto _ : state) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info;
    char line[] = "C:\\bin\\exit.exe 0";
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &info)) {
      state.SkipWithError("CreateProcessA failed");
      break;
    }
    WaitForSingleObject(info.hProcess, 120000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
}
BENCHMARK(BM_CreateProcessWaitClose)->Unit(benchmark::kMicrosecond);

void BM_PosixSpawnWaitpid(benchmark::State& state) {
  char* argv[] = {const_cast<char*>(kHelper.c_str()), const_cast<char*>("0"), nullptr};
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, kHelper.c_str(), nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    int status;
    waitpid(pid, &status, 0);
  }
}
BENCHMARK(BM_PosixSpawnWaitpid)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
