// "-e" and "-b" through the built tool: the server agent "brunol32" in every
// state the manager can report, its dependents (several levels deep and in a
// loop), and the node agents, each run verbose and with "-q"; whole output,
// exit status and machine time. Values the agent modes do not use, whatever
// they hold, change nothing of what they do.
#include <string>
#include <vector>

#include "tests/e2e/component_e2e_support.h"
#include "tests/e2e/e2e_support.h"

namespace {

constexpr char kDisplay[] = "Kelm Wardhaven Server Agent";
const std::string kStopBanner = "\n\nStopping: Kelm Wardhaven Server Agent\n*******************************\n\n";
const std::string kStartBanner = "\n\nStarting: Kelm Wardhaven Server Agent\n*******************************\n\n";
const std::string kStopLine = "Stopping Service (Kelm Wardhaven Server Agent)";
const std::string kStartLine = "Starting Service (Kelm Wardhaven Server Agent)";
constexpr int64_t kForeverMs = 1000LL * 1000 * 1000;
using testsupport::kNodeAgents;

std::string Dots(int n) { return std::string(static_cast<size_t>(n), '.'); }

class AgentModesEndToEnd : public testing::Test {
 protected:
  emu::admin::ServiceSpec Server(uint32_t state) { return e2e::Service("brunol32", state, kDisplay); }

  // Runs the tool verbose and expects banner + body; then, with the machine
  // put back by reset, runs it with "-q" and expects no output and the same
  // status and machine time.
  template <typename Reset>
  void ExpectBoth(const std::vector<std::string>& args, const std::string& verbose_out, int status,
                  long long elapsed_ms, Reset reset) {
    reset();
    long long start = release_.machine().NowMs();
    e2e::ToolRun run = release_.Run(args);
    EXPECT_EQ(run.out, verbose_out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(release_.machine().NowMs() - start, elapsed_ms);
    reset();
    std::vector<std::string> quiet = args;
    quiet.insert(quiet.begin(), "-q");
    start = release_.machine().NowMs();
    run = release_.Run(quiet);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(release_.machine().NowMs() - start, elapsed_ms);
  }
  void ExpectStop(const emu::admin::ServiceSpec& server, const std::string& body, int status,
                  long long elapsed_ms = 0) {
    ExpectBoth({"-e"}, kStopBanner + body, status, elapsed_ms, [&] { release_.DefineService(server); });
  }
  void ExpectStart(const emu::admin::ServiceSpec& server, const std::string& body, int status,
                   long long elapsed_ms = 0) {
    ExpectBoth({"-b"}, kStartBanner + body, status, elapsed_ms, [&] { release_.DefineService(server); });
  }

  e2e::ReleaseMachine release_;
};

TEST_F(AgentModesEndToEnd, StopRunningServerAgent) {
  ExpectStop(Server(SERVICE_RUNNING), kStopLine + "\n", 0);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_STOPPED);
  auto slow = Server(SERVICE_RUNNING);
  slow.stop_ms = 3000;
  ExpectStop(slow, kStopLine + "...\n", 0, 3000);
}

TEST_F(AgentModesEndToEnd, StopServerAgentThatRunsOnAfterAcceptingTheStop) {
  // Five seconds still running, then three stop-pending: one dot a second.
  auto lagging = Server(SERVICE_RUNNING);
  lagging.stop_lag_ms = 5000;
  lagging.stop_ms = 3000;
  ExpectStop(lagging, kStopLine + Dots(8) + "\n", 0, 8000);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_STOPPED);
  // Hung after accepting it: watched for 15 seconds, then reported as not stopped.
  auto hung = Server(SERVICE_RUNNING);
  hung.stop_lag_ms = -1;
  ExpectStop(hung, kStopLine + Dots(15) + "\n", 1, 15000);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_RUNNING);
}

TEST_F(AgentModesEndToEnd, StopStopPendingServerAgent) {
  auto pending = Server(SERVICE_STOP_PENDING);
  pending.stop_ms = 7000;
  ExpectStop(pending, kStopLine + Dots(7) + "\n", 0, 7000);
  pending.stop_ms = kForeverMs;
  ExpectStop(pending, kStopLine + Dots(120) + "\n", 1, 120000);
}

TEST_F(AgentModesEndToEnd, StopRefusedByServerAgent) {
  auto refusing = Server(SERVICE_RUNNING);
  refusing.refuse_stop = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  ExpectStop(refusing, kStopLine + "\n", 1);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_RUNNING);
  // Refused because it is no longer running: that is a stop.
  refusing.refuse_stop = ERROR_SERVICE_NOT_ACTIVE;
  ExpectStop(refusing, kStopLine + "\n", 0);
}

TEST_F(AgentModesEndToEnd, StopWithTwoActiveDependents) {
  auto first = e2e::Service("WardhavenRelay", SERVICE_RUNNING, "Wardhaven Relay");
  first.depends = {"brunol32"};
  first.stop_ms = 2000;
  auto second = e2e::Service("WardhavenCollector", SERVICE_RUNNING, "Wardhaven Collector");
  second.depends = {"brunol32"};
  auto reset = [&] {
    release_.DefineService(Server(SERVICE_RUNNING));
    release_.DefineService(first);
    release_.DefineService(second);
  };
  reset();
  // The manager's order of the two decides the order of their lines; both
  // come before the server agent's own line.
  e2e::ToolRun run = release_.Run({"-e"});
  const std::string relay = "Stopping Service (Wardhaven Relay)..\n";
  const std::string collector = "Stopping Service (Wardhaven Collector)\n";
  std::string expected = run.out.find(relay) < run.out.find(collector) ? relay + collector : collector + relay;
  ExpectBoth({"-e"}, kStopBanner + expected + kStopLine + "\n", 0, 2000, reset);
  EXPECT_EQ(release_.StateOf("WardhavenRelay"), SERVICE_STOPPED);
  EXPECT_EQ(release_.StateOf("WardhavenCollector"), SERVICE_STOPPED);
}

TEST_F(AgentModesEndToEnd, StopWithMoreDependentsThanFit) {
  auto reset = [&] {
    release_.DefineService(Server(SERVICE_RUNNING));
    for (int i = 0; i < 30; ++i) {
      auto dependent = e2e::Service("WardhavenProbe" + std::to_string(i), SERVICE_RUNNING,
                                    "Wardhaven Probe Number " + std::to_string(i));
      dependent.depends = {"brunol32"};
      release_.DefineService(dependent);
    }
  };
  ExpectBoth({"-e"}, kStopBanner + "\tERROR: Could not enumerate dependent services of (Kelm Wardhaven Server Agent)\n",
             1, 0, reset);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_RUNNING);
  EXPECT_EQ(release_.StateOf("WardhavenProbe0"), SERVICE_RUNNING);
}

TEST_F(AgentModesEndToEnd, StopNodeAgentsSilentlyFirst) {
  // Node agents that depend on the server agent are already stopped, without
  // a word, when its dependents are listed; a missing or stopped one is
  // passed over.
  auto reset = [&] {
    release_.DefineService(Server(SERVICE_RUNNING));
    for (const char* name : kNodeAgents) {
      auto agent = e2e::Service(name, std::string(name) == "Tobrael" ? SERVICE_STOPPED : SERVICE_RUNNING);
      agent.depends = {"brunol32"};
      agent.stop_ms = 1000;
      release_.DefineService(agent);
    }
    release_.RemoveService("Kelm Local Response Agent");
  };
  ExpectBoth({"-e"}, kStopBanner + kStopLine + "\n", 0, 2000, reset);
  for (const char* name : {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent"})
    EXPECT_EQ(release_.StateOf(name), SERVICE_STOPPED) << name;
}

TEST_F(AgentModesEndToEnd, StopWinsOverEverythingElse) {
  auto reset = [&] { release_.DefineService(Server(SERVICE_RUNNING)); };
  ExpectBoth({"-b", "-e"}, kStopBanner + kStopLine + "\n", 0, 0, reset);
  ExpectBoth({"-k", "product", "-p", "C:\\product.exe", "-e", "-g"}, kStopBanner + kStopLine + "\n", 0, 0, reset);
  ExpectBoth({"-e", "-k", "", "-r"}, kStopBanner + kStopLine + "\n", 0, 0, reset);
  EXPECT_EQ(release_.Registry().find("KelmKOTA"), std::string::npos);
  EXPECT_FALSE(testsupport::FileExists(release_.machine().HostPath("C:\\WINDOWS\\mevrid.exe")));
}

TEST_F(AgentModesEndToEnd, StartStoppedServerAgent) {
  ExpectStart(Server(SERVICE_STOPPED), kStartLine + "\n", 0);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_RUNNING);
  auto slow = Server(SERVICE_STOPPED);
  slow.start_ms = 4000;
  ExpectStart(slow, kStartLine + "....\n", 0, 4000);
}

TEST_F(AgentModesEndToEnd, StartIgnoresDependents) {
  // However many dependents it has, the server agent alone is started.
  auto reset = [&] {
    release_.DefineService(Server(SERVICE_STOPPED));
    for (int i = 0; i < 30; ++i) {
      auto dependent = e2e::Service("WardhavenProbe" + std::to_string(i), SERVICE_STOPPED,
                                    "Wardhaven Probe Number " + std::to_string(i));
      dependent.depends = {"brunol32"};
      release_.DefineService(dependent);
    }
  };
  ExpectBoth({"-b"}, kStartBanner + kStartLine + "\n", 0, 0, reset);
  EXPECT_EQ(release_.StateOf("WardhavenProbe0"), SERVICE_STOPPED);
}

TEST_F(AgentModesEndToEnd, StartRefusedByTheManager) {
  auto disabled = Server(SERVICE_STOPPED);
  disabled.start_type = SERVICE_DISABLED;
  ExpectStart(disabled, kStartLine + "\n", 1);
  ExpectBoth({"-b"}, kStartBanner + kStartLine + "\n", 1, 0, [&] {
    release_.DefineService(Server(SERVICE_STOPPED));
    release_.AddFault("StartServiceA", "brunol32", ERROR_SERVICE_DISABLED);
  });
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_STOPPED);
}

TEST_F(AgentModesEndToEnd, StartTwoNodeAgentsSilently) {
  auto reset = [&] {
    release_.DefineService(Server(SERVICE_STOPPED));
    for (const char* name : kNodeAgents) {
      auto agent = e2e::Service(name, SERVICE_STOPPED);
      agent.start_ms = 1000;
      release_.DefineService(agent);
    }
  };
  ExpectBoth({"-b", "-k", "product"}, kStartBanner + kStartLine + "\n", 0, 2000, reset);
  EXPECT_EQ(release_.StateOf("Tobrael"), SERVICE_RUNNING);
  EXPECT_EQ(release_.StateOf("Gandrel2Service"), SERVICE_RUNNING);
  EXPECT_EQ(release_.StateOf("Kelm Baseboard Agent"), SERVICE_STOPPED);
  EXPECT_EQ(release_.StateOf("Kelm Local Response Agent"), SERVICE_STOPPED);
}

// One run of "-e" or "-b" against the server agent alone, verbose and quiet:
// its line, the status, the machine time waited and the state it is left in.
struct AgentRun {
  const char* name;
  bool start;
  uint32_t state;  // 0: no server agent at all
  int64_t stop_ms = 0;
  int64_t start_ms = 0;
  bool start_fails = false;
  std::string body;
  int status = 0;
  long long elapsed_ms = 0;
  uint32_t end_state = 0;  // 0: not looked at
};
// Cases show by name in test listings and failures.
void PrintTo(const AgentRun& c, std::ostream* os) { *os << c.name; }

const AgentRun kAgentRuns[] = {
    {.name = "StopStoppedServerAgent", .start = false, .state = SERVICE_STOPPED, .body = kStopLine + "\n"},
    {.name = "StopStartPendingServerAgent", .start = false, .state = SERVICE_START_PENDING, .start_ms = kForeverMs,
     .body = kStopLine + "\n", .status = 1, .end_state = SERVICE_START_PENDING},
    {.name = "StopMissingServerAgent", .start = false, .state = 0,
     .body = "\tERROR: Could not open handle to service - brunol32\n", .status = 1},
    {.name = "StartRunningServerAgent", .start = true, .state = SERVICE_RUNNING, .body = kStartLine + "\n"},
    // Already starting: the manager answers that it runs.
    {.name = "StartStartPendingServerAgent", .start = true, .state = SERVICE_START_PENDING, .start_ms = kForeverMs,
     .body = kStartLine + "\n"},
    // Still stopping: the manager answers that it runs, and the tool takes
    // that answer as it is.
    {.name = "StartStopPendingServerAgent", .start = true, .state = SERVICE_STOP_PENDING, .stop_ms = kForeverMs,
     .body = kStartLine + "\n", .end_state = SERVICE_STOP_PENDING},
    {.name = "StartNeverEndingStartGivesUp", .start = true, .state = SERVICE_STOPPED, .start_ms = kForeverMs,
     .body = kStartLine + Dots(120) + "\n", .status = 1, .elapsed_ms = 120000},
    {.name = "StartThatFails", .start = true, .state = SERVICE_STOPPED, .start_ms = 3000, .start_fails = true,
     .body = kStartLine + "...\n", .status = 1, .elapsed_ms = 3000, .end_state = SERVICE_STOPPED},
    {.name = "StartMissingServerAgent", .start = true, .state = 0,
     .body = "\tERROR: Could not open handle to service - brunol32\n", .status = 1},
};

class AgentRunEndToEnd : public AgentModesEndToEnd, public testing::WithParamInterface<AgentRun> {};

TEST_P(AgentRunEndToEnd, VerboseAndQuiet) {
  const AgentRun& c = GetParam();
  auto server = Server(c.state);
  server.stop_ms = c.stop_ms;
  server.start_ms = c.start_ms;
  server.start_fails = c.start_fails;
  ExpectBoth({c.start ? "-b" : "-e"}, (c.start ? kStartBanner : kStopBanner) + c.body, c.status, c.elapsed_ms, [&] {
    if (c.state) release_.DefineService(server);
  });
  if (c.end_state) {
    EXPECT_EQ(release_.StateOf("brunol32"), c.end_state);
  }
}

INSTANTIATE_TEST_SUITE_P(ServerAgent, AgentRunEndToEnd, testing::ValuesIn(kAgentRuns),
                         [](const testing::TestParamInfo<AgentRun>& info) { return std::string(info.param.name); });

// The server agent's dependents several levels deep and in a loop.
class ServerAgentTreeEndToEnd : public testing::Test {
 protected:
  void Define(const std::string& name, const std::string& display, const std::vector<std::string>& depends,
              int64_t stop_ms = 0) {
    auto service = e2e::Service(name, SERVICE_RUNNING, display);
    service.depends = depends;
    service.stop_ms = stop_ms;
    release_.DefineService(service);
  }

  e2e::ReleaseMachine release_;
};

// A dependent's own dependent goes first, each on its own line with its own
// dots, and the server agent last: the walk follows the chain to its end.
TEST_F(ServerAgentTreeEndToEnd, DependentsTwoLevelsDeepStopDeepestFirst) {
  Define("brunol32", "Kelm Wardhaven Server Agent", {});
  Define("WardhavenRelay", "Wardhaven Relay", {"brunol32"}, 1000);
  Define("WardhavenProbe", "Wardhaven Probe", {"WardhavenRelay"}, 2000);
  long long start = release_.machine().NowMs();
  e2e::ToolRun run = release_.Run({"-e"});
  EXPECT_EQ(run.out, kStopBanner + "Stopping Service (Wardhaven Probe)..\nStopping Service (Wardhaven Relay).\n" +
                         kStopLine + "\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(release_.machine().NowMs() - start, 3000);
  for (const char* name : {"brunol32", "WardhavenRelay", "WardhavenProbe"})
    EXPECT_EQ(release_.StateOf(name), SERVICE_STOPPED) << name;
}

// Dependencies written so that the server agent and a helper depend on each
// other: the tool must end, not recurse until it crashes. Each is named once,
// neither stops while the other runs, and "-e" fails; quiet, it says nothing.
TEST_F(ServerAgentTreeEndToEnd, DependencyLoopEndsWithFailure) {
  Define("brunol32", "Kelm Wardhaven Server Agent", {"WardhavenLoop"});
  Define("WardhavenLoop", "Wardhaven Loop", {"brunol32"});
  e2e::ToolRun run = release_.Run({"-e"});
  EXPECT_EQ(run.out, kStopBanner + "Stopping Service (Wardhaven Loop)\n" + kStopLine + "\n");
  EXPECT_EQ(run.status, 1);
  run = release_.Run({"-e", "-q"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_RUNNING);
  EXPECT_EQ(release_.StateOf("WardhavenLoop"), SERVICE_RUNNING);
}


}  // namespace

// The agent modes beside values they do not use, on a machine whose other
// products the run must leave alone.
namespace componente2e {
namespace {

using CliAgentModesEndToEnd = ComponentEndToEnd;

// "-e" and "-b" run whatever the other options hold, a value too long for
// its field included; the install they would have asked for never starts.
TEST_F(CliAgentModesEndToEnd, AgentModesRunBesideValuesTooLong) {
  m_.DefineService(e2e::Service("brunol32", SERVICE_RUNNING, "Kelm Wardhaven Server Agent"));

  e2e::ToolRun run = Run({"-k", "abc", "-e", "-p", std::string(260, 'p')});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kStopBanner + "Stopping Service (Kelm Wardhaven Server Agent)\n");
  EXPECT_EQ(m_.StateOf("brunol32"), SERVICE_STOPPED);

  run = Run({"-k", std::string(4096, 'n'), "-b", "-p", "C:\\Products\\Alpha\\pre.exe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kStartBanner + "Starting Service (Kelm Wardhaven Server Agent)\n");
  EXPECT_EQ(m_.StateOf("brunol32"), SERVICE_RUNNING);

  EXPECT_EQ(m_.Registry().find("KelmKOTA"), std::string::npos);
  EXPECT_FALSE(Exists(kInstalledTool));
  EXPECT_TRUE(Recorded().empty());
}

}  // namespace
}  // namespace componente2e
