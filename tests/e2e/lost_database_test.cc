// A machine directory whose database was emptied, deleted or damaged keeps
// its drive: the tool refuses it with one line on standard error and status
// 1, creating nothing, instead of taking it for a new machine and forgetting
// every product's reference.
#include <sys/stat.h>

#include "platform/posix/machine.h"
#include "tests/e2e/component_e2e_support.h"

namespace componente2e {
namespace {

using LostDatabase = ComponentEndToEnd;

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(LostDatabase, IsRefusedNotRecreated) {
  struct Case {
    const char* what;
    const char* contents;  // nullptr: the file is deleted
    const char* reason;
  };
  const std::string db = m_.machine().dir() + "/machine.db";
  for (const Case& c : {Case{"emptied", "", " holds no machine (empty or damaged)"},
                        Case{"damaged", "not a database at all, not even its header", " holds no machine"},
                        Case{"deleted", nullptr, "no machine database in "}}) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(InstallAlpha().status, 0);
    emu::CloseMachine();
    for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(db + suffix);
    if (c.contents)
      ASSERT_TRUE(testsupport::WriteFile(db, c.contents, false));
    else
      std::filesystem::remove(db);
    std::vector<std::string> before = Entries(m_.machine().dir());

    e2e::ToolRun run = InstallBeta();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(Entries(m_.machine().dir()), before);
    EXPECT_EQ(testsupport::ReadFile(db), c.contents ? c.contents : "");

    // The machine tool's init is the one way to start afresh there.
    std::filesystem::remove(db);
    testsupport::ProcessResult init =
        testsupport::RunProgram({testsupport::MachineToolPath(), "init", "--machine", m_.machine().dir()});
    ASSERT_EQ(init.status, 0) << init.err;
    std::string error;
    ASSERT_TRUE(emu::OpenMachine(m_.machine().dir(), false, &error)) << error;
  }
}

}  // namespace
}  // namespace componente2e
