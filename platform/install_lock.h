// One install or removal of the KOTA component at a time, machine-wide. Two
// products installing and removing at the same moment could otherwise
// interleave their steps (one deleting the component while the other
// registers a reference to it) and leave a registered reference without its
// component.
//
// The holder puts a token naming itself in its own environment, which the
// pre-processors it starts (and so any run of the tool that they start)
// inherit: a run whose token names the present holder of the lock
// runs under its parent's lock instead of waiting for it, since the parent
// is waiting for that very run.
#pragma once

#include "platform/platform.h"

// The environment variable that carries the holder's token.
constexpr char kInstallLockToken[] = "MEVRID_INSTALL_LOCK";

enum class LockResult { Held, TimedOut, Failed };

// Takes the lock, waiting for as long as another run holds it, or at most
// timeout_seconds when that is not negative; when verbose, says once that it
// waits. TimedOut or Failed come with the same error line when verbose.
LockResult TakeInstallLock(Flag verbose, int timeout_seconds);
// The wait without end: true when held.
bool AcquireInstallLock(Flag verbose);
// Lets the lock go (and drops the token); nothing when not held.
void ReleaseInstallLock();
// Whether some run holds the lock at this moment, asked without taking it
// and without ever making a holder or a run about to take it wait.
bool IsInstallLockHeldNow();
