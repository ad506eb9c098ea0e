// The help text: every command and option of the machine tool.
#include <cstdio>

#include "tools/tool.h"

namespace machine_tool {
namespace {

const char kHelp[] = R"(Usage: mevrid-machine [--machine DIR] COMMAND [ARGUMENTS]

Administers an emulated Windows machine, the way regedit, reg, sc and a
restart do on Windows. The machine is a directory: --machine DIR (or
--machine=DIR, before or after the command), else $MEVRID_MACHINE, else the
per-user default ($XDG_DATA_HOME/mevrid/machine or ~/.mevrid-machine).
Every command except init needs an existing machine.

Machine
  init [--virtual-clock]
      Create the machine (registry, C:\WINDOWS\system32\drivers) and print
      where it is. On an existing machine nothing changes, except that
      --virtual-clock switches its clock to virtual.
  clock [virtual|real]
      Show the clock, or switch it. On a virtual clock a wait (Sleep)
      advances machine time at once, so long waits take no real time.
  time
      Show the virtual time in milliseconds.
  advance MS
      Move the virtual clock on by MS milliseconds (virtual clock only);
      pending services finish their starts and stops as time passes.
  locale [NAME]
      Show or set the user locale, e.g. "Japanese_Japan.932".
  systemroot [PATH]
      Show or set the Windows directory used when the environment has no
      SystemRoot variable (default C:\WINDOWS).
  reboot
      Restart the machine: carry out the pending file operations
      (PendingFileRenameOperations), delete services marked for deletion,
      reset every service to stopped, start the automatic-start services.
  files [DIR]
      List everything below a Windows directory (default C:\), one line
      each: D for a directory, R for read-only, the size, the path.
  console-log
      Print the output of the processes the tool started (pre-processors).

Registry (HKEY_LOCAL_MACHINE only; KEY may start with HKEY_LOCAL_MACHINE\ or
HKLM\, or name the path below it directly)
  reg import FILE
      Import a .reg file ("Windows Registry Editor Version 5.00" or
      "REGEDIT4", with [-KEY] and "name"=- deletions); FILE - reads
      standard input. A malformed line changes nothing.
  reg export [KEY]
      Write the whole registry, or KEY and its subkeys, as a .reg file to
      standard output.
  reg query KEY [VALUE | /v VALUE | /ve]
      Print KEY's values and subkeys, or one value, as Windows' reg does.
  reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
      Create KEY (and its parents) and set a value. TYPE: REG_SZ (the
      default), REG_EXPAND_SZ, REG_MULTI_SZ (strings split at SEP, default
      \0), REG_DWORD, REG_QWORD (decimal or 0x hex), REG_BINARY, REG_NONE
      (hex digits). Strings are stored with their terminator, as reg does.
      An existing value is replaced without asking.
  reg delete KEY [/v NAME | /ve | /va] [/f]
      Delete KEY with its subkeys, or one value, or all of its values.

Services (as sc shows them)
  service add NAME [OPTIONS]
      Define a service. Options:
        --display TEXT      display name (default: NAME)
        --driver            a kernel driver (default: a Win32 own-process
                            service); it starts only when its image exists
        --image PATH        ImagePath; a driver's is relative to the Windows
                            directory, e.g. System32\drivers\vtrin.sys
        --group NAME        load order group
        --depends A,B       services it depends on (DependOnService)
        --start TYPE        auto, demand (default), disabled, boot or system
        --state STATE       stopped (default), running, start-pending or
                            stop-pending
        --start-ms N        time a start stays start-pending (default 0)
        --stop-ms N         time a stop stays stop-pending (default 0)
        --stop-lag-ms N     time a service that accepted a stop goes on
                            running before its stop-pending time begins
                            (default 0); "never": it accepts a stop and
                            hangs, running for ever. A further stop request
                            meanwhile is accepted and changes nothing
        --start-fails       a start ends stopped instead of running
        --refuse-stop CODE  a stop request fails with this Win32 error
      A service that exists already is refused; remove it first.
  service remove NAME
      Remove a service's definition at once (no marking for deletion).
  service list
      Every service, in sc query's layout.
  service query NAME
      One service's status, in sc query's layout.
  service qc NAME
      One service's configuration, in sc qc's layout.
  service start NAME
  service stop NAME
      Start or stop through the emulated Service Control Manager, as
      sc start and sc stop do (fault rules apply); the status follows.

Faults and call counts
  fault add OPERATION [--match TEXT] [--error CODE] [--nth N] [--always]
      Make the N-th call (default 1) of OPERATION fail with CODE. OPERATION
      is a Win32 call name such as RegOpenKeyExA, CreateServiceA or
      CopyFileA, or * for every call. --match: only calls whose key path,
      value name, file path, service name or command line contains TEXT
      (ignoring case) count. CODE: a number or a name such as
      ERROR_SHARING_VIOLATION; default 5 (ERROR_ACCESS_DENIED), the refusal
      every call can meet. --always: that call and every later one fail.
      Calls are counted across every process using the machine
      (mevrid-status, which only reads it, is not counted). CODE
      0xDEAD0009 stands for a crash: the process that makes the call kills
      itself there (SIGKILL), as a power cut would end it.
      Operations: RegOpenKeyExA RegCreateKeyExA RegQueryValueExA
      RegSetValueExA RegEnumKeyExA RegEnumValueA RegDeleteKeyA
      RegDeleteValueA RegCloseKey ExpandEnvironmentStringsA OpenSCManagerA
      OpenServiceA QueryServiceStatus ControlService StartServiceA
      EnumDependentServicesA CreateServiceA DeleteService CloseServiceHandle
      QueryServiceConfigA CreateFileA GetFileTime SetFileTime CompareFileTime
      CloseHandle GetFileAttributesA SetFileAttributesA CopyFileA DeleteFileA
      MoveFileA MoveFileExA CreateDirectoryA GetStartupInfoA CreateProcessA
      WaitForSingleObject GetExitCodeProcess TerminateProcess
      CreateMutexA (the install lock, Global\MevridKotaInstall)
  fault list
      The rules, with how many matching calls each has seen.
  fault clear
      Remove every rule (and the call counts).
  calls on|off|show
      Count the platform calls per operation (on starts from zero), stop
      counting, or show the counts ("calls" alone shows them).

Other
  help, --help
      This text.

Exit status: 0 success; 1 the machine refused a valid request (a service
start or stop failed, a restart failed); 2 bad input (unknown command or
option, missing argument, malformed .reg line), no machine, or a key,
value or service that does not exist. Errors are one line on standard
error beginning "mevrid-machine: " (reg and sc imitations print their own
messages, as those tools do).
)";

}  // namespace

void PrintHelp() { fputs(kHelp, stdout); }

}  // namespace machine_tool
