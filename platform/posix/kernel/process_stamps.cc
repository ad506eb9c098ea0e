#include "platform/posix/kernel/process_stamps.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace emu {

// /proc/<pid>/stat: "pid (name) state ppid ... starttime ...", the start
// time being the 22nd field; the name may hold spaces and parentheses, so
// the fields are counted from the last ')'.
bool ReadProcStat(const std::string& pid, ProcStat* fields) {
  FILE* file = fopen(("/proc/" + pid + "/stat").c_str(), "re");
  if (!file) return false;
  char text[1024];
  const size_t length = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[length] = '\0';
  const char* after_name = strrchr(text, ')');
  if (!after_name) return false;
  char state = 0;
  unsigned long long parent = 0, started = 0;
  // After the name: state (3), ppid (4), then 17 fields up to starttime (22).
  if (sscanf(after_name + 1, " %c %llu %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
             &state, &parent, &started) != 3)
    return false;
  *fields = {state, parent, started};
  return true;
}

bool OwnProcessStamp(ProcessStamp* self) {
  ProcStat fields;
  if (!ReadProcStat("self", &fields)) return false;
  *self = {static_cast<uint64_t>(getpid()), fields.started};
  return true;
}

bool IsRunning(const ProcessStamp& process) {
  ProcStat fields;
  return ReadProcStat(std::to_string(process.Id), &fields) && fields.started == process.Created;
}

bool ParentProcessStamp(const ProcessStamp& child, ProcessStamp* parent) {
  ProcStat fields, parent_fields;
  if (!ReadProcStat(std::to_string(child.Id), &fields) || fields.started != child.Created || fields.parent == 0)
    return false;
  if (!ReadProcStat(std::to_string(fields.parent), &parent_fields)) return false;
  *parent = {fields.parent, parent_fields.started};
  return true;
}

}  // namespace emu
