// Windows is the machine itself: the registry, the services and the files
// are read through the calls that read them.
#include "platform/machine_reading.h"

bool ReadMachineWithoutWriting(const std::function<void()>& read, std::string*) {
  read();
  return true;
}
