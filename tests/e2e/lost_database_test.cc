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
  for (const Case& c : {Case{"emptied", "", " holds no machine (empty: no tables at all); remove it"},
                        Case{"damaged", "not a database at all, not even its header",
                             " holds no machine (damaged: not an SQLite database); remove it"},
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

// A sound database its user may not use (a directory it may not write, so
// SQLite cannot make its side files there; as root, the programs run as
// nobody) is said to be that, never called empty or damaged: the tool and
// the machine tool name the permission and do not advise removing it.
TEST_F(LostDatabase, OneThatCannotBeUsedIsNotCalledLost) {
  ASSERT_EQ(InstallAlpha().status, 0);
  emu::CloseMachine();  // the last to close removes the side files
  const std::string dir = m_.machine().dir();
  const std::string db = testsupport::ReadFile(dir + "/machine.db");
  chmod(dir.c_str(), 0555);
  // The programs where nobody may reach them.
  const std::string work = std::filesystem::path(m_.release_dir()).parent_path().string();
  chmod(work.c_str(), 0755);
  const std::string machine_tool = work + "/mevrid-machine";
  std::filesystem::copy_file(testsupport::MachineToolPath(), machine_tool);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{m_.release_dir() + "/mevrid.exe", "-k", "beta", "-p", "x"},
        std::vector<std::string>{machine_tool, "reg", "query", "HKLM\\SOFTWARE"}}) {
    std::vector<std::string> argv = command;
    if (geteuid() == 0) argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const testsupport::ProcessResult r = testsupport::RunProgram(argv, m_.release_dir());
    EXPECT_EQ(r.status, command[0] == machine_tool ? 2 : 1) << command[0];
    EXPECT_NE(r.err.find("machine.db: permission denied"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("remove it"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("damaged"), std::string::npos) << r.err;
  }
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(testsupport::ReadFile(dir + "/machine.db"), db);
  EXPECT_FALSE(testsupport::FileExists(dir + "/machine.db-wal"));
}

}  // namespace
}  // namespace componente2e
