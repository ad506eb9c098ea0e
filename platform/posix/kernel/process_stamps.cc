#include "platform/posix/kernel/process_stamps.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace emu {
namespace {

struct StatFields {
  uint64_t parent = 0;
  uint64_t started = 0;  // clock ticks since boot
};

// /proc/<pid>/stat: "pid (name) state ppid ... starttime ...", the start
// time being the 22nd field; the name may hold spaces and parentheses, so
// the fields are counted from the last ')'.
bool ReadStat(const std::string& pid, StatFields* fields) {
  FILE* file = fopen(("/proc/" + pid + "/stat").c_str(), "re");
  if (!file) return false;
  char text[1024];
  const size_t length = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[length] = '\0';
  const char* after_name = strrchr(text, ')');
  if (!after_name) return false;
  unsigned long long parent = 0, started = 0;
  // After the name: state (3), ppid (4), then 17 fields up to starttime (22).
  if (sscanf(after_name + 1, " %*c %llu %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
             &parent, &started) != 2)
    return false;
  fields->parent = parent;
  fields->started = started;
  return true;
}

}  // namespace

bool OwnProcessStamp(ProcessStamp* self) {
  StatFields fields;
  if (!ReadStat("self", &fields)) return false;
  *self = {static_cast<uint64_t>(getpid()), fields.started};
  return true;
}

bool IsRunning(const ProcessStamp& process) {
  StatFields fields;
  return ReadStat(std::to_string(process.Id), &fields) && fields.started == process.Created;
}

bool ParentProcessStamp(const ProcessStamp& child, ProcessStamp* parent) {
  StatFields fields, parent_fields;
  if (!ReadStat(std::to_string(child.Id), &fields) || fields.started != child.Created || fields.parent == 0)
    return false;
  if (!ReadStat(std::to_string(fields.parent), &parent_fields)) return false;
  *parent = {fields.parent, parent_fields.started};
  return true;
}

}  // namespace emu
