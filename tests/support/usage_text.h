// The tool's usage text as the tests expect it, naming the program as it
// was invoked.
#pragma once

#include <string>

namespace testsupport {

inline std::string UsageText(const std::string& program) {
  return "\nUsage : " + program +
         " -k ReferenceName -p PreProcImage [-b] [-e] [-g] [-q] [-r]\n\n"
         "\twhere -k = Reference name to be linked to KOTA component\n"
         "\t      -p = Reference pre-processor executable image\n"
         "\t      -b = Start/Begin Kelm Wardhaven Server Agent\n"
         "\t      -e = Stop/End Kelm Wardhaven Server Agent\n"
         "\t      -g = Install over an older version of NNM/SE\n"
         "\t      -q = Do not output any messages\n"
         "\t      -r = Remove KOTA component\n"
         "\n";
}

}  // namespace testsupport
