/* A real Win32 service for the Wine suite: it takes a chosen time to start and
   to stop, so the tool's polls (one status read a second) can be watched
   against a real Service Control Manager. One executable serves any number of
   services, each created with its own command line:

     test_service.exe [start=<ms>] [stop=<ms>] [fail-start] [refuse-stop]
                      [log=<path>]

   start=   time spent SERVICE_START_PENDING before SERVICE_RUNNING (default 0)
   stop=    time spent SERVICE_STOP_PENDING after a stop request (default 0)
   fail-start   leave START_PENDING for SERVICE_STOPPED instead of running
   refuse-stop  never accept SERVICE_CONTROL_STOP (ControlService then fails)
   log=     append one line per state change ("<service> <state>") to this
            file; default: services.log beside the executable

   The log keeps the order in which the tool drove the services, which the
   suite compares with the order the tool is meant to use. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static DWORD start_ms, stop_ms;
static BOOL fail_start, refuse_stop;
static char log_path[MAX_PATH];
static char service_name[256];
static SERVICE_STATUS_HANDLE status_handle;
static HANDLE stop_event;
static SERVICE_STATUS status;

/* One WriteFile per line on a handle opened for appending, so services
   writing at the same time never interleave within a line. */
static void LogState(const char* state) {
  char line[320];
  int length = snprintf(line, sizeof line, "%s %s\r\n", service_name, state);
  HANDLE file = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, (DWORD)length, &written, NULL);
  CloseHandle(file);
}

static void Report(DWORD state, DWORD exit_code, DWORD wait_hint) {
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = (state == SERVICE_RUNNING && !refuse_stop) ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = exit_code;
  status.dwServiceSpecificExitCode = 0;
  status.dwCheckPoint = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ? status.dwCheckPoint + 1 : 0;
  status.dwWaitHint = wait_hint;
  SetServiceStatus(status_handle, &status);
}

static DWORD WINAPI Handler(DWORD control, DWORD event_type, LPVOID event_data, LPVOID context) {
  (void)event_type;
  (void)event_data;
  (void)context;
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      if (status.dwCurrentState != SERVICE_RUNNING) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
      /* The pending state is reported before the handler returns, so the
         first status read after ControlService already sees it. */
      Report(SERVICE_STOP_PENDING, NO_ERROR, stop_ms + 1000);
      LogState("stop-pending");
      SetEvent(stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

static void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
  snprintf(service_name, sizeof service_name, "%s", argc > 0 ? argv[0] : "?");
  status_handle = RegisterServiceCtrlHandlerExA(service_name, Handler, NULL);
  if (!status_handle) return;
  stop_event = CreateEventA(NULL, TRUE, FALSE, NULL);

  Report(SERVICE_START_PENDING, NO_ERROR, start_ms + 1000);
  LogState("start-pending");
  Sleep(start_ms);
  if (fail_start) {
    LogState("stopped");
    Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
    return;
  }
  LogState("running");
  Report(SERVICE_RUNNING, NO_ERROR, 0);

  WaitForSingleObject(stop_event, INFINITE);
  Sleep(stop_ms);
  LogState("stopped");
  Report(SERVICE_STOPPED, NO_ERROR, 0);
}

static void DefaultLogPath(void) {
  DWORD length = GetModuleFileNameA(NULL, log_path, sizeof log_path);
  char* slash = strrchr(log_path, '\\');
  if (length == 0 || !slash) {
    strcpy(log_path, "services.log");
    return;
  }
  snprintf(slash + 1, sizeof log_path - (size_t)(slash + 1 - log_path), "%s", "services.log");
}

int main(int argc, char** argv) {
  DefaultLogPath();
  for (int i = 1; i < argc; ++i) {
    if (!strncmp(argv[i], "start=", 6)) start_ms = (DWORD)strtoul(argv[i] + 6, NULL, 10);
    else if (!strncmp(argv[i], "stop=", 5)) stop_ms = (DWORD)strtoul(argv[i] + 5, NULL, 10);
    else if (!strcmp(argv[i], "fail-start")) fail_start = TRUE;
    else if (!strcmp(argv[i], "refuse-stop")) refuse_stop = TRUE;
    else if (!strncmp(argv[i], "log=", 4)) snprintf(log_path, sizeof log_path, "%s", argv[i] + 4);
    else {
      fprintf(stderr, "test_service: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  SERVICE_TABLE_ENTRYA table[] = {{(LPSTR) "", ServiceMain}, {NULL, NULL}};
  if (!StartServiceCtrlDispatcherA(table)) {
    fprintf(stderr, "test_service: run it as a service (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
