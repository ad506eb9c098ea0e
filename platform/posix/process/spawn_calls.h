// The host calls that prepare a child's start (its streams, directory,
// session and signals), in one table, so a test can make any one of them
// fail as SQLite's test VFS replaces a system call. Every result is checked:
// a child whose standard output could not be pointed at the console log
// would write into the tool's own output.
#pragma once

#include <signal.h>
#include <spawn.h>

namespace emu::spawn {

struct HostCalls {
  int (*file_actions_init)(posix_spawn_file_actions_t*) = posix_spawn_file_actions_init;
  int (*adddup2)(posix_spawn_file_actions_t*, int, int) = posix_spawn_file_actions_adddup2;
  int (*addchdir)(posix_spawn_file_actions_t*, const char*) = posix_spawn_file_actions_addchdir_np;
  int (*addclosefrom)(posix_spawn_file_actions_t*, int) = posix_spawn_file_actions_addclosefrom_np;
  int (*attr_init)(posix_spawnattr_t*) = posix_spawnattr_init;
  int (*setsigmask)(posix_spawnattr_t*, const sigset_t*) = posix_spawnattr_setsigmask;
  int (*setsigdefault)(posix_spawnattr_t*, const sigset_t*) = posix_spawnattr_setsigdefault;
  int (*setflags)(posix_spawnattr_t*, short) = posix_spawnattr_setflags;
};

// The table the emulated CreateProcessA uses.
HostCalls& Calls();

}  // namespace emu::spawn
