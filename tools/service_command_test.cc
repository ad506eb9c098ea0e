// service add / remove / list / query / qc / start / stop, in sc's layout.
#include "tests/support/machine_tool_fixture.h"

namespace machine_tool_test {
namespace {

using testsupport::ProcessResult;

const char kVtrinRunning[] =
    "\n"
    "SERVICE_NAME: vtrin\n"
    "DISPLAY_NAME: KOTA Driver\n"
    "        TYPE               : 1  KERNEL_DRIVER\n"
    "        STATE              : 4  RUNNING\n"
    "                                (STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n"
    "        WIN32_EXIT_CODE    : 0  (0x0)\n"
    "        SERVICE_EXIT_CODE  : 0  (0x0)\n"
    "        CHECKPOINT         : 0x0\n"
    "        WAIT_HINT          : 0x0\n";

const char kAgentStopped[] =
    "\n"
    "SERVICE_NAME: Agent\n"
    "DISPLAY_NAME: Agent\n"
    "        TYPE               : 10  WIN32_OWN_PROCESS\n"
    "        STATE              : 1  STOPPED\n"
    "        WIN32_EXIT_CODE    : 0  (0x0)\n"
    "        SERVICE_EXIT_CODE  : 0  (0x0)\n"
    "        CHECKPOINT         : 0x0\n"
    "        WAIT_HINT          : 0x0\n";

const char kNoSuchService[] = "The specified service does not exist as an installed service.\n\n";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(MachineToolTest, AddedServicesQueryAndListInScLayout) {
  Init();
  EXPECT_EQ(Ok({"service", "add", "vtrin", "--driver", "--display", "KOTA Driver", "--image",
                "System32\\drivers\\vtrin.sys", "--state", "running"}),
            "");
  Ok({"service", "add", "Agent"});
  EXPECT_EQ(Ok({"service", "query", "vtrin"}), kVtrinRunning);
  EXPECT_EQ(Ok({"service", "query", "Agent"}), kAgentStopped);
  EXPECT_EQ(Ok({"service", "list"}), std::string(kAgentStopped) + kVtrinRunning);

  ProcessResult missing = Tool({"service", "query", "nosuch"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, std::string("[SC] EnumQueryServicesStatus:OpenService FAILED 1060:\n\n") + kNoSuchService);
  EXPECT_EQ(missing.err, "");
}

TEST_F(MachineToolTest, QcShowsTheConfigurationAsScDoes) {
  Init();
  Ok({"service", "add", "Node", "--display", "Node Agent", "--image", "C:\\Program Files\\n\\node.exe", "--depends",
      "Agent,vtrin", "--start", "auto", "--group", "G1"});
  EXPECT_EQ(Ok({"service", "qc", "Node"}),
            "[SC] QueryServiceConfig SUCCESS\n"
            "\n"
            "SERVICE_NAME: Node\n"
            "        TYPE               : 10  WIN32_OWN_PROCESS\n"
            "        START_TYPE         : 2   AUTO_START\n"
            "        ERROR_CONTROL      : 1   NORMAL\n"
            "        BINARY_PATH_NAME   : C:\\Program Files\\n\\node.exe\n"
            "        LOAD_ORDER_GROUP   : G1\n"
            "        TAG                : 0\n"
            "        DISPLAY_NAME       : Node Agent\n"
            "        DEPENDENCIES       : Agent\n"
            "                           : vtrin\n"
            "        SERVICE_START_NAME : LocalSystem\n");
  Ok({"service", "add", "vtrin", "--driver", "--image", "System32\\drivers\\vtrin.sys", "--start", "system"});
  EXPECT_EQ(Ok({"service", "qc", "vtrin"}),
            "[SC] QueryServiceConfig SUCCESS\n"
            "\n"
            "SERVICE_NAME: vtrin\n"
            "        TYPE               : 1  KERNEL_DRIVER\n"
            "        START_TYPE         : 1   SYSTEM_START\n"
            "        ERROR_CONTROL      : 1   NORMAL\n"
            "        BINARY_PATH_NAME   : System32\\drivers\\vtrin.sys\n"
            "        LOAD_ORDER_GROUP   :\n"
            "        TAG                : 0\n"
            "        DISPLAY_NAME       : vtrin\n"
            "        DEPENDENCIES       :\n"
            "        SERVICE_START_NAME :\n");
  ProcessResult missing = Tool({"service", "qc", "nosuch"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, std::string("[SC] OpenService FAILED 1060:\n\n") + kNoSuchService);
}

TEST_F(MachineToolTest, BadServiceDefinitionsAreRefusedAndDefineNothing) {
  Init();
  Ok({"service", "add", "Agent"});
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {{"service", "add"}, "mevrid-machine: 'service add' needs a service name first\n"},
           {{"service", "add", "a\\b"}, "mevrid-machine: 'service add' needs a service name first\n"},
           {{"service", "add", "X", "--start", "sometimes"},
            "mevrid-machine: bad value 'sometimes' for 'service add --start'\n"},
           {{"service", "add", "X", "--state", "paused"},
            "mevrid-machine: bad value 'paused' for 'service add --state'\n"},
           {{"service", "add", "X", "--start-ms", "-1"},
            "mevrid-machine: bad value '-1' for 'service add --start-ms'\n"},
           {{"service", "add", "X", "--stop-lag-ms", "-1"},
            "mevrid-machine: bad value '-1' for 'service add --stop-lag-ms'\n"},
           {{"service", "add", "X", "--stop-lag-ms", "forever"},
            "mevrid-machine: bad value 'forever' for 'service add --stop-lag-ms'\n"},
           {{"service", "add", "X", "--refuse-stop", "0"},
            "mevrid-machine: bad value '0' for 'service add --refuse-stop'\n"},
           {{"service", "add", "X", "--depends", "A,b/c"},
            "mevrid-machine: bad value 'A,b/c' for 'service add --depends'\n"},
           {{"service", "add", "X", "--bogus", "1"}, "mevrid-machine: unknown option '--bogus' for 'service add'\n"},
           {{"service", "add", "X", "--display"}, "mevrid-machine: 'service add --display' needs a value\n"},
           {{"service", "add", "X", "extra"}, "mevrid-machine: unexpected argument 'extra' for 'service add'\n"},
           {{"service", "add", "agent"}, "mevrid-machine: service Agent already exists (remove it first)\n"},
           // As CreateServiceA refuses it (1078).
           {{"service", "add", "X", "--display", "AGENT"},
            "mevrid-machine: display name 'AGENT' is another service's name or display name (error 1078)\n"},
           {{"service", "pause", "Agent"},
            "mevrid-machine: unknown subcommand 'service pause' (add, remove, list, query, qc, start or stop)\n"},
       }) {
    ProcessResult result = Tool(c.args);
    EXPECT_EQ(result.status, 2) << c.err;
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(Tool({"service", "query", "X"}).status, 2);
  EXPECT_EQ(Ok({"service", "list"}), kAgentStopped);
}

// As CreateServiceA refuses it (1059): a service may not depend on itself,
// directly or through a loop of others; a group of the same name is no loop.
TEST_F(MachineToolTest, CircularDependenciesAreRefusedAndChangeNothing) {
  Init();
  Ok({"service", "add", "A", "--depends", "B"});
  Ok({"service", "add", "B", "--depends", "C,+A"});
  std::string before = Ok({"reg", "export"});
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"service", "add", "C", "--depends", "a"},
           {"service", "add", "C", "--depends", "X,Y,A"},
           {"service", "add", "C", "--depends", "c"},
       }) {
    ProcessResult result = Tool(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "mevrid-machine: service C would depend on itself (circular dependency, error 1059)\n");
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(Ok({"reg", "export"}), before);
  EXPECT_EQ(Tool({"service", "query", "C"}).status, 2);
  // Sharing a dependency is no loop.
  Ok({"service", "add", "C", "--depends", "D"});
  Ok({"service", "add", "E", "--depends", "A,C,D"});
}

TEST_F(MachineToolTest, RemoveTakesTheDefinitionAway) {
  Init();
  Ok({"service", "add", "Agent", "--state", "running"});
  EXPECT_EQ(Ok({"service", "remove", "agent"}), "");
  EXPECT_EQ(Tool({"service", "query", "Agent"}).status, 2);
  EXPECT_EQ(Ok({"service", "list"}), "");
  ProcessResult again = Tool({"service", "remove", "Agent"});
  EXPECT_EQ(again.status, 2);
  EXPECT_EQ(again.err, "mevrid-machine: no service Agent\n");
}

TEST_F(MachineToolTest, StartAndStopGoThroughTheServiceControlManager) {
  Init();
  Ok({"service", "add", "Agent"});
  ProcessResult started = Tool({"service", "start", "Agent"});
  EXPECT_EQ(started.status, 0) << started.out;
  EXPECT_EQ(started.out,
            "\n"
            "SERVICE_NAME: Agent\n"
            "        TYPE               : 10  WIN32_OWN_PROCESS\n"
            "        STATE              : 4  RUNNING\n"
            "                                (STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n"
            "        WIN32_EXIT_CODE    : 0  (0x0)\n"
            "        SERVICE_EXIT_CODE  : 0  (0x0)\n"
            "        CHECKPOINT         : 0x0\n"
            "        WAIT_HINT          : 0x0\n"
            "        PID                : 0\n"
            "        FLAGS              :\n");

  ProcessResult twice = Tool({"service", "start", "Agent"});
  EXPECT_EQ(twice.status, 1);
  EXPECT_EQ(twice.out, "[SC] StartService FAILED 1056:\n\nAn instance of the service is already running.\n\n");

  ProcessResult stopped = Tool({"service", "stop", "Agent"});
  EXPECT_EQ(stopped.status, 0);
  EXPECT_EQ(stopped.out.rfind("\nSERVICE_NAME: Agent\n        TYPE               : 10  WIN32_OWN_PROCESS\n"
                              "        STATE              : 1  STOPPED\n        WIN32_EXIT_CODE",
                              0),
            0u)
      << stopped.out;

  ProcessResult not_active = Tool({"service", "stop", "Agent"});
  EXPECT_EQ(not_active.status, 1);
  EXPECT_EQ(not_active.out, "[SC] ControlService FAILED 1062:\n\nThe service has not been started.\n\n");

  ProcessResult missing_start = Tool({"service", "start", "nosuch"});
  EXPECT_EQ(missing_start.status, 2);
  EXPECT_EQ(missing_start.out, std::string("[SC] StartService: OpenService FAILED 1060:\n\n") + kNoSuchService);
  ProcessResult missing_stop = Tool({"service", "stop", "nosuch"});
  EXPECT_EQ(missing_stop.status, 2);
  EXPECT_EQ(missing_stop.out, std::string("[SC] OpenService FAILED 1060:\n\n") + kNoSuchService);
  EXPECT_EQ(Tool({"service", "start"}).status, 2);
  EXPECT_EQ(Tool({"service", "stop", "a", "b"}).status, 2);
}

TEST_F(MachineToolTest, BehavioursShowInStartsAndStops) {
  Init();
  Ok({"service", "add", "Slow", "--state", "running", "--stop-ms", "3000"});
  Ok({"service", "add", "Stubborn", "--state", "running", "--refuse-stop", "ERROR_INVALID_SERVICE_CONTROL"});
  Ok({"service", "add", "vtrin", "--driver", "--image", "System32\\drivers\\vtrin.sys"});

  EXPECT_TRUE(Has(Ok({"service", "stop", "Slow"}), "        STATE              : 3  STOP_PENDING\n"));
  std::string pending = Ok({"service", "query", "Slow"});
  EXPECT_TRUE(Has(pending,
                  "        STATE              : 3  STOP_PENDING\n"
                  "                                (NOT_STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n"))
      << pending;
  EXPECT_TRUE(Has(pending, "        CHECKPOINT         : 0x1\n        WAIT_HINT          : 0xbb8\n")) << pending;
  Ok({"advance", "2999"});
  EXPECT_TRUE(Has(Ok({"service", "query", "Slow"}), "STATE              : 3  STOP_PENDING\n"));
  Ok({"advance", "1"});
  EXPECT_TRUE(Has(Ok({"service", "query", "Slow"}), "STATE              : 1  STOPPED\n"));

  ProcessResult refused = Tool({"service", "stop", "Stubborn"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out,
            "[SC] ControlService FAILED 1052:\n\nThe requested control is not valid for this service.\n\n");

  // A driver starts only once its image is on the machine.
  ProcessResult no_image = Tool({"service", "start", "vtrin"});
  EXPECT_EQ(no_image.status, 1);
  EXPECT_EQ(no_image.out, "[SC] StartService FAILED 2:\n\nThe system cannot find the file specified.\n\n");
  ASSERT_TRUE(testsupport::WriteFile(dir_ + "/drive_c/WINDOWS/system32/drivers/vtrin.sys", "driver"));
  EXPECT_TRUE(Has(Ok({"service", "start", "vtrin"}), "STATE              : 4  RUNNING\n"));
}

TEST_F(MachineToolTest, StopLagKeepsAServiceRunningAfterItAcceptedTheStop) {
  Init();
  Ok({"service", "add", "Lagging", "--state", "running", "--stop-lag-ms", "5000", "--stop-ms", "3000"});
  Ok({"service", "add", "Hung", "--state", "running", "--stop-lag-ms", "never"});
  const std::string running =
      "        STATE              : 4  RUNNING\n"
      "                                (STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n";
  EXPECT_TRUE(Has(Ok({"service", "stop", "Lagging"}), running));
  Ok({"advance", "4999"});
  EXPECT_TRUE(Has(Ok({"service", "query", "Lagging"}), running));
  // Asked again while it lags: accepted, and the lag still ends on time.
  EXPECT_TRUE(Has(Ok({"service", "stop", "Lagging"}), running));
  Ok({"advance", "1"});
  EXPECT_TRUE(Has(Ok({"service", "query", "Lagging"}), "        STATE              : 3  STOP_PENDING\n"));
  Ok({"advance", "3000"});
  EXPECT_TRUE(Has(Ok({"service", "query", "Lagging"}), "        STATE              : 1  STOPPED\n"));

  EXPECT_TRUE(Has(Ok({"service", "stop", "Hung"}), running));
  Ok({"advance", "1000000000000"});
  EXPECT_TRUE(Has(Ok({"service", "query", "Hung"}), running));
  EXPECT_TRUE(Has(Ok({"service", "stop", "Hung"}), running));
  // Only a restart ends it.
  Ok({"reboot"});
  EXPECT_TRUE(Has(Ok({"service", "query", "Hung"}), "        STATE              : 1  STOPPED\n"));
}

}  // namespace
}  // namespace machine_tool_test
