// The usage and no-op modes of the built tool: whole output and exit status,
// and that a refused command line touches nothing.
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

const std::string kUsage = e2e::UsageText();

class UsageEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    // A running server agent: a mode that wrongly ran would stop it.
    release_.DefineService(e2e::Service("brunol32", SERVICE_RUNNING, "Kelm Wardhaven Server Agent"));
    before_ = release_.Registry();
  }
  // The command line is answered with the usage text and status 1, and
  // nothing on the machine changed.
  void ExpectUsage(const std::vector<std::string>& args) {
    e2e::ToolRun run = release_.Run(args);
    std::string shown;
    for (const std::string& arg : args) shown.append("[").append(arg, 0, 20).append("]");
    EXPECT_EQ(run.out, kUsage) << shown;
    EXPECT_EQ(run.status, 1) << shown;
    EXPECT_EQ(run.err, "") << shown;
    ExpectUntouched(shown);
  }
  void ExpectNoOp(const std::vector<std::string>& args) {
    e2e::ToolRun run = release_.Run(args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 0);
    ExpectUntouched("no-op");
  }
  void ExpectUntouched(const std::string& what) {
    EXPECT_EQ(release_.Registry(), before_) << what;
    EXPECT_EQ(release_.StateOf("brunol32"), SERVICE_RUNNING) << what;
    EXPECT_FALSE(testsupport::FileExists(release_.machine().HostPath("C:\\WINDOWS\\mevrid.exe"))) << what;
  }

  e2e::ReleaseMachine release_;
  std::string before_;
};

TEST_F(UsageEndToEnd, NoArguments) { ExpectUsage({}); }

TEST_F(UsageEndToEnd, UnrecognisedOptions) {
  for (const char* arg : {"-x", "/?", "--", "-1", "-h"}) ExpectUsage({arg});
  // Even after a complete request, and even when quiet.
  ExpectUsage({"-k", "abc", "-p", "img", "-z"});
  ExpectUsage({"-q", "-x"});
}

TEST_F(UsageEndToEnd, MissingOrOptionLikeValues) {
  ExpectUsage({"-k"});
  ExpectUsage({"-k", "abc", "-p"});
  ExpectUsage({"-k", "-r"});
  ExpectUsage({"/K", "/P", "img"});
  ExpectUsage({"-p", "-", "-k", "abc"});
  ExpectUsage({"-q", "-k"});
}

TEST_F(UsageEndToEnd, IncompleteRequests) {
  ExpectUsage({"-k", "abc"});        // no image, no "-r"
  ExpectUsage({"-kabc", "img"});     // the name is IMG; there is no image
  ExpectUsage({"-q", "-k", "abc"});  // still printed when quiet
  ExpectUsage({"-p", "img"});        // no name
  ExpectUsage({"-r"});
  ExpectUsage({"-k", "", "-p", "img"});
  ExpectUsage({"-k", "abc", "-p", ""});
  ExpectUsage({"-g", "-q"});
  ExpectUsage({"free", "-", "text"});  // nothing but ignored arguments
}

TEST_F(UsageEndToEnd, ArgumentsTooLongForTheirFields) {
  const std::string name259(259, 'n');
  ExpectUsage({"-k", std::string(260, 'n'), "-p", "img"});
  ExpectUsage({"-k", "abc", "-p", std::string(260, 'p')});
  ExpectUsage({"-k", std::string(100000, 'n'), "-r"});
  ExpectUsage({"-q", "-k", "abc", "-p", std::string(4096, 'p')});
  // A value that fits its field but not a key path.
  ExpectUsage({"-k", name259, "-p", "img"});
  ExpectUsage({"-k", std::string(205, 'n'), "-r"});
  // A backslash would reach outside the References key.
  ExpectUsage({"-k", "..\\..\\CurrentVersion", "-r"});
  ExpectUsage({"-q", "-k", "a\\b", "-p", "img"});
  // Refused by validation, not as a parse error: "-o" ends the run wherever
  // it stands.
  ExpectNoOp({"-o", "-k", std::string(260, 'n')});
  ExpectNoOp({"-k", std::string(260, 'n'), "-o"});
}

TEST_F(UsageEndToEnd, NoOpWhereverItIsReached) {
  ExpectNoOp({"-o"});
  ExpectNoOp({"/O"});
  ExpectNoOp({"-o", "-x"});
  ExpectNoOp({"-o", "-e"});
  ExpectNoOp({"-k", "abc", "-p", "img", "-o"});
  ExpectNoOp({"-e", "-b", "-q", "-onward"});
  // The legacy reference's pre-processor: the installed tool with "-o",
  // then the notification's switches.
  ExpectNoOp({"-o", "-e", "-q"});
  ExpectNoOp({"-o", "-b"});
}

TEST_F(UsageEndToEnd, ParseErrorBeforeNoOpWins) {
  ExpectUsage({"-x", "-o"});
  ExpectUsage({"-k", "-o"});  // "-o" is not taken as the name
}

}  // namespace
