// The bounded wait for the install lock counts the real clock it is given,
// tries the lock once per poll and once more at the bound, and never moves
// the machine's virtual clock.
#include "platform/posix/kernel/lock_wait.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/admin.h"
#include "platform/posix/kernel/unique_fd.h"
#include "tests/support/test_machine.h"

namespace {

struct WaitCase {
  const char* name;
  int timeout_seconds;
  int release_at_poll;  // the holder lets go during this sleep (1 first); 0: never
  bool taken;
  int64_t waited_ms;
  size_t polls;
};
// Cases show by name in test listings and failures.
void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

const WaitCase kWaitCases[] = {
    {"no bound gives up at once", 0, 0, false, 0, 0},
    {"one second held throughout", 1, 0, false, 1000, 10},
    {"fifteen minutes held throughout", 900, 0, false, 900000, 9000},
    {"let go during the fourth poll", 3, 4, true, 400, 4},
    {"let go during the last poll, tried at the bound", 1, 10, true, 1000, 10},
};

class LockWaitTest : public testing::TestWithParam<WaitCase> {
 protected:
  void SetUp() override {
    path_ = machine_.dir() + "/wait.lock";
    holder_ = emu::UniqueFd(open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    waiter_ = emu::UniqueFd(open(path_.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(holder_ && waiter_);
    ASSERT_EQ(flock(holder_.get(), LOCK_EX | LOCK_NB), 0);
  }

  testsupport::TestMachine machine_;  // a virtual clock
  std::string path_;
  emu::UniqueFd holder_, waiter_;
};

TEST_P(LockWaitTest, CountsTheRealClockAndLeavesTheMachinesAlone) {
  const WaitCase& c = GetParam();
  const int64_t start = 5'000'000;  // not the machine's time, nor zero
  int64_t now = start;
  std::vector<int64_t> sleeps;
  const emu::RealClock fake{[&] { return now; },
                            [&](int64_t ms) {
                              sleeps.push_back(ms);
                              now += ms;
                              if (static_cast<int>(sleeps.size()) == c.release_at_poll) flock(holder_.get(), LOCK_UN);
                            }};
  const int64_t machine_before = emu::NowMs();
  EXPECT_EQ(emu::WaitForLockWithin(waiter_.get(), c.timeout_seconds, fake), c.taken);
  EXPECT_EQ(now - start, c.waited_ms);
  EXPECT_EQ(sleeps.size(), c.polls);
  for (int64_t ms : sleeps) EXPECT_LE(ms, emu::kLockPollMs);
  EXPECT_EQ(emu::NowMs(), machine_before) << "the machine's clock moved";
  // Taken exactly when the waiter now holds it.
  EXPECT_EQ(flock(holder_.get(), LOCK_EX | LOCK_NB) != 0, c.taken);
}

INSTANTIATE_TEST_SUITE_P(Cases, LockWaitTest, testing::ValuesIn(kWaitCases));

}  // namespace
