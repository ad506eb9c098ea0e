// The judgements of the all-or-nothing install see what they are meant to
// see: against a tool that never rolls back they must fail, so a check that
// went blind would let the matrix pass on nothing.
#include "tests/reliability/rollback_checks.h"

#include <gtest/gtest.h>

namespace reliability {
namespace {

using Lines = std::vector<std::string>;

constexpr char kTool[] = "C:\\WINDOWS\\mevrid.exe: ";
constexpr char kLibrary[] = "C:\\WINDOWS\\system32\\qelmot32.dll: ";
constexpr char kDriver[] = "C:\\WINDOWS\\system32\\drivers\\vtrin.sys: ";

EndState Files(const std::string& tool, const std::string& library, const std::string& driver,
               const std::string& more = "") {
  EndState state;
  state.files = kTool + tool + "\n" + kLibrary + library + "\n" + kDriver + driver + "\n" + more;
  return state;
}

TEST(RollbackChecks, ProductsToldToLetGoAreToldToBeginAgainInTheSameOrder) {
  const struct {
    const char* record;
    Lines cut_off;
  } cases[] = {
      {"", {}},
      {"ALPHA -e\nBETA -e\nALPHA -b\nBETA -b\n", {}},
      {"ALPHA -e\nBETA -e\n",
       {"ALPHA told \"-e\" (record line 1) and never \"-b\" after it",
        "BETA told \"-e\" (record line 2) and never \"-b\" after it"}},
      {"ALPHA -b\nALPHA -e\n", {"ALPHA told \"-e\" (record line 2) and never \"-b\" after it"}},
      {"ALPHA -e\nBETA -e\nBETA -b\nALPHA -b\n", {"BETA told \"-b\" before a product told \"-e\" ahead of it"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ProductsCutOff(c.record), c.cut_off) << c.record;
}

TEST(RollbackChecks, AComponentSetIsWholeOldOrWholeNewAndNothingStaysKeptAside) {
  const EndState before = Files("1 bytes, old", "2 bytes, old", "3 bytes, old");
  const EndState after = Files("4 bytes, new", "5 bytes, new", "6 bytes, new");
  EXPECT_EQ(ComponentSetProblems(before, before, after), Lines{});
  EXPECT_EQ(ComponentSetProblems(after, before, after), Lines{});
  const EndState copy_failed = Files("4 bytes, new", "2 bytes, old", "3 bytes, old");
  EXPECT_EQ(ComponentSetProblems(copy_failed, before, after),
            Lines{"a mixed set of component files: C:\\WINDOWS\\mevrid.exe new, "
                  "C:\\WINDOWS\\system32\\qelmot32.dll old, C:\\WINDOWS\\system32\\drivers\\vtrin.sys old"});
  const EndState kept = Files("4 bytes, new", "5 bytes, new", "6 bytes, new",
                              "C:\\WINDOWS\\system32\\drivers\\vtrin.sys.mevrid-kept: 3 bytes, old\n");
  EXPECT_EQ(ComponentSetProblems(kept, before, after),
            Lines{"a kept-aside file left: C:\\WINDOWS\\system32\\drivers\\vtrin.sys.mevrid-kept"});
}

TEST(RollbackChecks, AKillMayLeaveOldFilesKeptAsideButNeverLoseThem) {
  const EndState before = Files("1 bytes, old", "2 bytes, old", "3 bytes, old");
  const EndState after = Files("4 bytes, new", "5 bytes, new", "6 bytes, new");
  EXPECT_EQ(OldFilesLost(after, before, after), Lines{});
  const EndState library_kept = Files("4 bytes, new", "5 bytes, new", "3 bytes, old",
                                      "C:\\WINDOWS\\system32\\qelmot32.dll.mevrid-kept: 2 bytes, old\n");
  EXPECT_EQ(OldFilesLost(library_kept, before, after),
            Lines{"the old C:\\WINDOWS\\mevrid.exe (1 bytes, old) is gone, the new set not whole"});
}

TEST(RollbackChecks, PastThePointOfNoReturnOnlyReferencesTheMarkerAndStatesMayDiffer) {
  EndState before;
  before.services = "vtrin running type=1 start=2 error=1 group=Extended Base depends= display=vtrin image=v.sys\n";
  EndState after = before;
  after.component_keys =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\n"
      "\"ChangeInProgress\"=\"Install\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA]\n"
      "\"PreProcImage\"=\"x\"\n\n";
  after.services += "SNMP stopped type=16 start=3 error=1 group= depends= display=SNMP image=\n";
  EndState unregistered = before;
  unregistered.component_keys = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\n\n";
  unregistered.services += "SNMP running type=16 start=3 error=1 group= depends= display=SNMP image=\n";
  EXPECT_EQ(ComponentPart(unregistered, before), ComponentPart(after, before));
  // An older node's copy left in place is the rerun's to remove; a file
  // kept aside is the run's own.
  unregistered.files += "C:\\Program Files\\Kelm\\bin\\qelmot32.dll: 2 bytes, old\n";
  EXPECT_EQ(ComponentPart(unregistered, before), ComponentPart(after, before));
  unregistered.files += "C:\\Program Files\\Kelm\\bin\\qelmot32.dll.mevrid-kept: 2 bytes, old\n";
  EXPECT_FALSE(ComponentPart(unregistered, before) == ComponentPart(after, before));
  // The driver ran before the run: a new one left stopped is no success.
  EndState driver_stopped = after;
  driver_stopped.services.replace(0, 13, "vtrin stopped");
  EXPECT_FALSE(ComponentPart(driver_stopped, before) == ComponentPart(after, before));
  EXPECT_EQ(ComponentPart(driver_stopped, EndState{}), ComponentPart(after, EndState{}));
}

}  // namespace
}  // namespace reliability
