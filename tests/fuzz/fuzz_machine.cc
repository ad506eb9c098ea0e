#include "tests/fuzz/fuzz_machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"

namespace fuzzing {
namespace {

std::string g_dir;

void RemoveMachine() {
  emu::CloseMachine();
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
}

}  // namespace

void UseFuzzMachine() {
  if (!g_dir.empty()) return;
  // In memory when the host has it: the machine's database syncs often.
  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/mevrid-fuzz-XXXXXX" : "/tmp/mevrid-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) abort();
  g_dir = pattern;
  std::string error;
  if (!emu::OpenMachine(g_dir, true, &error)) {
    fprintf(stderr, "cannot create the fuzz machine: %s\n", error.c_str());
    abort();
  }
  emu::SetSetting("clock", "virtual");
  setenv("MEVRID_MACHINE", g_dir.c_str(), 1);
  unsetenv("SystemRoot");
  if (!freopen("/dev/null", "w", stdout)) abort();
  atexit(RemoveMachine);
}

}  // namespace fuzzing
