// The agents' fixed stop and start orders: which services are touched, in
// which order, and that only the counted one speaks and decides the result.
#include "services/agent_sequences.h"

#include "tests/support/service_fixture.h"

namespace servicetest {
namespace {

using testsupport::kNodeAgents;

class AgentSequencesTest : public ServiceTest {
 protected:
  void DefineServerAgent(DWORD state) { Define(Service("brunol32", state, "Kelm Wardhaven Server Agent")); }
  void DefineNodeAgents(DWORD state) {
    for (const char* name : kNodeAgents) Define(Service(name, state));
  }
  void Undefine(const std::string& name) {
    std::string error;
    ASSERT_TRUE(emu::admin::RemoveServiceDefinition(name, &error)) << error;
  }
  // The services opened, in order.
  std::vector<std::string> Opened() const {
    std::vector<std::string> names;
    for (const std::string& call : Calls("OpenServiceA")) names.push_back(call.substr(sizeof("OpenServiceA")));
    return names;
  }
};

TEST_F(AgentSequencesTest, StopServerAgentStopsNodeAgentsSilentlyFirst) {
  DefineServerAgent(SERVICE_RUNNING);
  DefineNodeAgents(SERVICE_RUNNING);
  Outcome o = Run([] { return StopServerAgent(1); });
  EXPECT_EQ(o.out, "Stopping Service (Kelm Wardhaven Server Agent)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent",
                                                "Kelm Local Response Agent", "brunol32"}));
  for (const char* name : kNodeAgents) EXPECT_EQ(StateOf(name), SERVICE_STOPPED) << name;
  EXPECT_EQ(StateOf("brunol32"), SERVICE_STOPPED);
  ExpectBalanced();
}

TEST_F(AgentSequencesTest, StopServerAgentWithoutNodeAgentsSaysNothingOfThem) {
  auto server = Service("brunol32", SERVICE_RUNNING, "Kelm Wardhaven Server Agent");
  server.stop_ms = 2000;
  Define(server);
  Outcome o = Run([] { return StopServerAgent(1); });
  EXPECT_EQ(o.out, "Stopping Service (Kelm Wardhaven Server Agent)..\n");
  EXPECT_EQ(o.result, 1);
  ExpectBalanced(4);  // the four missing node agents
}

TEST_F(AgentSequencesTest, StopServerAgentResultIsTheServerAgentsOnly) {
  DefineServerAgent(SERVICE_RUNNING);
  auto refusing = Service("Tobrael", SERVICE_RUNNING);
  refusing.refuse_stop = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  Define(refusing);
  Outcome o = Run([] { return StopServerAgent(1); });
  EXPECT_EQ(o.out, "Stopping Service (Kelm Wardhaven Server Agent)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(StateOf("Tobrael"), SERVICE_RUNNING);
  // A missing server agent fails, whatever the node agents do.
  Undefine("brunol32");
  o = Run([] { return StopServerAgent(1); });
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to service - brunol32\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(Run([] { return StopServerAgent(0); }).out, "");
}

TEST_F(AgentSequencesTest, StartServerAgentStartsTwoNodeAgentsAfterIt) {
  DefineServerAgent(SERVICE_STOPPED);
  DefineNodeAgents(SERVICE_STOPPED);
  Outcome o = Run([] { return StartServerAgent(1); });
  EXPECT_EQ(o.out, "Starting Service (Kelm Wardhaven Server Agent)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{"brunol32", "Tobrael", "Gandrel2Service"}));
  EXPECT_EQ(StateOf("Tobrael"), SERVICE_RUNNING);
  EXPECT_EQ(StateOf("Gandrel2Service"), SERVICE_RUNNING);
  EXPECT_EQ(StateOf("Kelm Baseboard Agent"), SERVICE_STOPPED);
  EXPECT_EQ(StateOf("Kelm Local Response Agent"), SERVICE_STOPPED);
  ExpectBalanced();
}

TEST_F(AgentSequencesTest, StartServerAgentResultIsTheServerAgentsOnly) {
  auto failing = Service("brunol32", SERVICE_STOPPED, "Kelm Wardhaven Server Agent");
  failing.start_fails = true;
  failing.start_ms = 1000;
  Define(failing);
  DefineNodeAgents(SERVICE_STOPPED);
  Outcome o = Run([] { return StartServerAgent(1); });
  EXPECT_EQ(o.out, "Starting Service (Kelm Wardhaven Server Agent).\n");
  EXPECT_EQ(o.result, 0);
  // The rows after a failed one still run.
  EXPECT_EQ(StateOf("Tobrael"), SERVICE_RUNNING);
  EXPECT_EQ(StateOf("Gandrel2Service"), SERVICE_RUNNING);
}

TEST_F(AgentSequencesTest, StopNodeAgentsCountsTheBaseboardAgent) {
  DefineNodeAgents(SERVICE_RUNNING);
  auto baseboard = Service("Kelm Baseboard Agent", SERVICE_RUNNING);
  baseboard.refuse_stop = ERROR_SERVICE_REQUEST_TIMEOUT;
  Define(baseboard);
  Outcome o = Run([] { return StopNodeAgents(1); });
  EXPECT_EQ(o.out, "Stopping Service (Kelm Baseboard Agent)\n");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(Opened(), (std::vector<std::string>{"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent",
                                                "Kelm Local Response Agent"}));
  EXPECT_EQ(StateOf("Kelm Local Response Agent"), SERVICE_STOPPED);
}

TEST_F(AgentSequencesTest, StartNodeAgentsInReverseOrder) {
  DefineNodeAgents(SERVICE_STOPPED);
  Outcome o = Run([] { return StartNodeAgents(1); });
  EXPECT_EQ(o.out, "Starting Service (Kelm Baseboard Agent)\n");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{"Kelm Local Response Agent", "Kelm Baseboard Agent", "Tobrael",
                                                "Gandrel2Service"}));
  for (const char* name : kNodeAgents) EXPECT_EQ(StateOf(name), SERVICE_RUNNING) << name;
  // Only the counted agent decides; the others may be missing.
  Undefine("Tobrael");
  Define(Service("Kelm Baseboard Agent", SERVICE_STOPPED));
  EXPECT_EQ(Run([] { return StartNodeAgents(0); }).result, 1);
  Undefine("Kelm Baseboard Agent");
  o = Run([] { return StartNodeAgents(1); });
  EXPECT_EQ(o.out, "\tERROR: Could not open handle to service - Kelm Baseboard Agent\n");
  EXPECT_EQ(o.result, 0);
}

}  // namespace
}  // namespace servicetest
