// One install or removal of the KOTA component at a time, machine-wide. Two
// products installing and removing at the same moment could otherwise
// interleave their steps (one deleting the component while the other
// registers a reference to it) and leave a registered reference without its
// component.
//
// The holder puts its record in its own environment, which the
// pre-processors it starts (and so any run of the tool that they start)
// inherit: a run that descends from the present holder and inherited its
// record runs under its parent's lock instead of waiting for it, since the
// parent is waiting for that very run (see install_lock_holder.h).
#pragma once

#include <functional>

#include "platform/platform.h"

// The lock's name: the named mutex on Windows, the name the emulation's fault
// rules match for the call that takes it there.
inline constexpr char kInstallLockName[] = "Global\\MevridKotaInstall";
// On an emulated machine, the file in the machine's directory that is locked.
inline constexpr char kInstallLockFileName[] = "install.lock";
// On Windows, the named section that holds the present holder's record.
inline constexpr char kInstallLockRecordName[] = "Global\\MevridKotaInstallHolder";
// The environment variable that carries the holder's record to what it starts.
inline constexpr char kInstallLockToken[] = "MEVRID_INSTALL_LOCK";

enum class LockResult { Held, TimedOut, Failed };

// Takes the lock, waiting for as long as another run holds it, or at most
// timeout_seconds when that is not negative. Prints nothing: on_wait, when
// given, is called once, as the wait for another run's holding begins, so
// the caller can say that it waits before it does. After Failed, GetLastError()
// holds the Win32 error of the call that failed.
LockResult TakeInstallLock(int timeout_seconds, const std::function<void()>& on_wait = nullptr);
// The wait without end: true when held.
bool AcquireInstallLock();
// Lets the lock go (and drops the token); nothing when not held.
void ReleaseInstallLock();
// Whether some run holds the lock at this moment, asked without taking it
// and without ever making a holder or a run about to take it wait.
bool IsInstallLockHeldNow();
