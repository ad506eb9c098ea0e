// fault add / list / clear and calls on / off / show.
#include "tests/support/machine_tool_fixture.h"

namespace machine_tool_test {
namespace {

using testsupport::ProcessResult;

TEST_F(MachineToolTest, FaultRulesAreAddedListedAndCleared) {
  Init();
  EXPECT_EQ(Ok({"fault", "list"}), "");
  // Operation names are taken in any letter case and stored as Windows spells them.
  EXPECT_EQ(Ok({"fault", "add", "regopenkeyexa", "--match", "KelmKOTA"}), "");
  Ok({"fault", "add", "*", "--error", "ERROR_SHARING_VIOLATION", "--nth", "3", "--always"});
  Ok({"fault", "add", "CopyFileA", "--error", "0x70"});
  EXPECT_EQ(Ok({"fault", "list"}),
            "#1 RegOpenKeyExA \"KelmKOTA\": call 1 fails with 5 (ERROR_ACCESS_DENIED); 0 matching calls so far\n"
            "#2 * (any): calls 3 and later fail with 32 (ERROR_SHARING_VIOLATION); 0 matching calls so far\n"
            "#3 CopyFileA (any): call 1 fails with 112; 0 matching calls so far\n");
  EXPECT_EQ(Ok({"fault", "clear"}), "");
  EXPECT_EQ(Ok({"fault", "list"}), "");
}

TEST_F(MachineToolTest, BadFaultRulesAreRefusedAndStoreNothing) {
  Init();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"fault", "add"},
                                             {"fault", "add", "Reg Open"},
                                             {"fault", "add", "RegOpenKeyEx"},
                                             {"fault", "add", "--match", "x"},
                                             {"fault", "add", "CopyFileA", "--error", "0"},
                                             {"fault", "add", "CopyFileA", "--error", "ERROR_BOGUS"},
                                             {"fault", "add", "CopyFileA", "--nth", "0"},
                                             {"fault", "add", "CopyFileA", "--nth", "two"},
                                             {"fault", "add", "CopyFileA", "--match"},
                                             {"fault", "add", "CopyFileA", "--once"},
                                             {"fault", "list", "all"},
                                             {"fault", "remove"},
                                             {"fault"},
                                             {"calls", "maybe"},
                                             {"calls", "on", "now"}}) {
    ProcessResult result = Tool(args);
    EXPECT_EQ(result.status, 2) << args.back();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("mevrid-machine: ", 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1);
  }
  EXPECT_EQ(Ok({"fault", "list"}), "");
}

TEST_F(MachineToolTest, AFaultRuleFailsTheMatchingCallOnce) {
  Init();
  Ok({"service", "add", "Agent"});
  Ok({"service", "add", "Other"});
  Ok({"fault", "add", "StartServiceA", "--match", "agent", "--error", "ERROR_SERVICE_DISABLED"});
  EXPECT_EQ(Tool({"service", "start", "Other"}).status, 0);
  ProcessResult failed = Tool({"service", "start", "Agent"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out,
            "[SC] StartService FAILED 1058:\n\nThe service cannot be started, either because it is disabled or "
            "because it has no enabled devices associated with it.\n\n");
  EXPECT_EQ(Ok({"fault", "list"}),
            "#1 StartServiceA \"agent\": call 1 fails with 1058 (ERROR_SERVICE_DISABLED); 1 matching calls so far\n");
  EXPECT_EQ(Tool({"service", "start", "Agent"}).status, 0);
}

TEST_F(MachineToolTest, CallsAreCountedOnlyWhileCountingIsOn) {
  Init();
  Ok({"calls", "on"});
  // Defining and reading services and keys is administration, not calls of
  // the platform: none of it counts.
  Ok({"service", "add", "Agent"});
  Ok({"service", "query", "Agent"});
  Ok({"reg", "add", "SOFTWARE\\X", "/v", "V", "/d", "1"});
  Ok({"reg", "query", "SOFTWARE\\X"});
  EXPECT_EQ(Ok({"calls", "show"}), "");

  Ok({"service", "start", "Agent"});
  std::string counts = Ok({"calls", "show"});
  EXPECT_EQ(Ok({"calls"}), counts);
  for (const char* line : {"OpenSCManagerA 1\n", "OpenServiceA 1\n", "StartServiceA 1\n"})
    EXPECT_NE(counts.find(line), std::string::npos) << line << " missing from\n" << counts;

  Ok({"calls", "off"});
  Ok({"service", "stop", "Agent"});
  EXPECT_EQ(Ok({"calls", "show"}), counts);
  // Turning counting on again starts from zero.
  Ok({"calls", "on"});
  EXPECT_EQ(Ok({"calls", "show"}), "");
}

}  // namespace
}  // namespace machine_tool_test
