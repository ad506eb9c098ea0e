// Reading an emulated machine without changing it. SQLite in WAL mode reads
// a database through its -wal and -shm files and creates them when they are
// missing; a reader here never does. With the -wal there (a writer is at
// work, or one was killed), SQLite reads through it with the -shm mapped
// read-only. Without it the database file holds the whole machine and is
// read as an unchanging file, under SQLite's own shared lock so that no
// writer's close can checkpoint into it meanwhile; a writer that starts in
// the meantime makes the read start over, through its -wal.
#include "platform/machine_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/posix/kernel/unique_fd.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine/current_machine.h"

namespace {

// SQLite's shared lock on a database file is a read lock on these bytes.
// While one is held, no connection takes the exclusive lock a checkpoint at
// close needs (it then leaves its -wal for the next one), and no writer in
// rollback mode writes the file.
constexpr off_t kSharedFirst = 0x40000000 + 2;
constexpr off_t kSharedSize = 510;
// How long the exclusive lock of a writer that checkpoints may keep the
// shared one out, in milliseconds: the busy timeout of the tool's own
// connection.
constexpr int kLockWaitMs = 60000;
// Each start-over follows a writer that started while the reader read, or
// one that had made its -wal but not yet its -shm (a millisecond apart).
constexpr int kMostTries = 100;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool TakeSharedLock(int fd) {
  struct flock lock = {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kSharedFirst;
  lock.l_len = kSharedSize;
  for (int waited_ms = 0; waited_ms < kLockWaitMs; ++waited_ms) {
    if (fcntl(fd, F_SETLK, &lock) == 0) return true;
    if (errno != EAGAIN && errno != EACCES) return false;
    const timespec millisecond = {0, 1000000};
    nanosleep(&millisecond, nullptr);
  }
  return false;
}

}  // namespace

bool ReadMachineWithoutWriting(const std::function<void()>& read, std::string* error) {
  const std::string dir = emu::DefaultMachineDir();
  const std::string db = dir + "/machine.db", wal = db + "-wal", shm = db + "-shm";
  for (int tries = 0; tries < kMostTries; ++tries) {
    // Held from before the look at the -wal until the machine is closed, so
    // that no writer's close deletes the -wal between the look and SQLite's
    // opening of it (which would then create one). Closing this descriptor
    // earlier would drop SQLite's own locks on the file as well. A file that
    // cannot be opened is reported by the opening below, as any other
    // reason not to read it.
    emu::UniqueFd locked(open(db.c_str(), O_RDONLY | O_CLOEXEC));
    if (locked && !TakeSharedLock(locked.get())) {
      *error = db + " is locked by another process (a writer kept it for " + std::to_string(kLockWaitMs / 1000) +
               " s); nothing was read or changed";
      return false;
    }
    const bool through_wal = Exists(wal);
    // A writer makes the -shm just after the -wal.
    if (through_wal && !Exists(shm)) {
      const timespec millisecond = {0, 1000000};
      nanosleep(&millisecond, nullptr);
      continue;
    }
    if (!emu::OpenMachineForReading(dir, through_wal, error)) return false;
    read();
    // Through the -wal SQLite keeps what it read whole; the file alone was
    // whole if no writer started meanwhile.
    const bool whole = through_wal || !Exists(wal);
    emu::CloseMachine();
    if (whole) return true;
  }
  *error = Exists(wal) && !Exists(shm)
               ? wal + " is there without " + shm + ": the changes it holds cannot be read without writing; the next "
                 "run of mevrid or mevrid-machine takes them in"
               : db + " kept changing while it was read; nothing was changed";
  return false;
}
