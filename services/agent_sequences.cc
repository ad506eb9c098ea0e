// The fixed stop and start orders of the suite's agents. Only the counted
// service speaks; the others are handled silently, so an agent that a
// machine lacks is passed over without a word.
#include "services/agent_sequences.h"

#include "journal/run_journal.h"
#include "services/start_service.h"
#include "services/stop_service.h"

const char kServerAgentService[] = "brunol32";
const char kServerAgentDisplay[] = "Kelm Wardhaven Server Agent";

namespace {

// The node agents' display texts are their service names.
constexpr const char kGandrel[] = "Gandrel2Service";
constexpr const char kTobrael[] = "Tobrael";
constexpr const char kBaseboard[] = "Kelm Baseboard Agent";
constexpr const char kLocalResponse[] = "Kelm Local Response Agent";

}  // namespace

Flag StopServerAgent(Flag verbose) {
  {
    JournalAbsenceExpected absence_expected;  // an agent the machine lacks
    StopServiceTree(kGandrel, kGandrel, 0);
    StopServiceTree(kTobrael, kTobrael, 0);
    StopServiceTree(kBaseboard, kBaseboard, 0);
    StopServiceTree(kLocalResponse, kLocalResponse, 0);
  }
  return StopServiceTree(kServerAgentService, kServerAgentDisplay, verbose);
}

Flag StartServerAgent(Flag verbose) {
  Flag result = StartServiceAndWait(kServerAgentService, kServerAgentDisplay, verbose);
  JournalAbsenceExpected absence_expected;
  StartServiceAndWait(kTobrael, kTobrael, 0);
  StartServiceAndWait(kGandrel, kGandrel, 0);
  return result;
}

Flag StopNodeAgents(Flag verbose) {
  StopServiceTree(kGandrel, kGandrel, 0);
  StopServiceTree(kTobrael, kTobrael, 0);
  Flag result = StopServiceTree(kBaseboard, kBaseboard, verbose);
  StopServiceTree(kLocalResponse, kLocalResponse, 0);
  return result;
}

Flag StartNodeAgents(Flag verbose) {
  StartServiceAndWait(kLocalResponse, kLocalResponse, 0);
  Flag result = StartServiceAndWait(kBaseboard, kBaseboard, verbose);
  StartServiceAndWait(kTobrael, kTobrael, 0);
  StartServiceAndWait(kGandrel, kGandrel, 0);
  return result;
}
