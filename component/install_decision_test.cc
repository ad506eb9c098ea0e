// The install's choice as a pure function of the facts: which facts make a
// full install of a current component, and which leave it a registration.
#include <gtest/gtest.h>

#include "component/install.h"

namespace {

struct ChoiceCase {
  const char* name;
  bool this_version;  // the recorded version is this tool's own 4.0 (else a newer one)
  bool unfinished_install;
  ServicePresence driver;
  bool full;
};
void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class DecideInstallTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(DecideInstallTest, ACurrentComponentIsReplacedOnlyWhereAFactSaysSo) {
  const ChoiceCase& c = GetParam();
  InstallFacts facts;
  facts.Currency.InstallNeeded = 0;
  facts.Currency.Row = CurrencyRow::Current;
  facts.Currency.ThisVersionRecorded = c.this_version;
  facts.UnfinishedInstall = c.unfinished_install;
  facts.Driver = c.driver;
  const InstallChoice choice = DecideInstall(facts);
  EXPECT_EQ(choice.FullInstall, c.full);
  EXPECT_EQ(choice.UnfinishedInstall, c.unfinished_install);
  EXPECT_EQ(choice.DriverServiceAbsent, c.full && !c.unfinished_install);
}

INSTANTIATE_TEST_SUITE_P(
    Facts, DecideInstallTest,
    testing::Values(ChoiceCase{"Running", true, false, ServicePresence::Running, false},
                    // A stopped driver is left for the restart: no start, no install.
                    ChoiceCase{"Stopped", true, false, ServicePresence::NotRunning, false},
                    ChoiceCase{"Unanswerable", true, false, ServicePresence::Unknown, false},
                    ChoiceCase{"Absent", true, false, ServicePresence::Absent, true},
                    ChoiceCase{"AbsentUnderANewerVersion", false, false, ServicePresence::Absent, false},
                    ChoiceCase{"UnfinishedInstall", true, true, ServicePresence::NotRunning, true},
                    ChoiceCase{"UnfinishedInstallUnderANewerVersion", false, true, ServicePresence::Running, true}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

// A check that asks for the install decides it, whatever else is found.
TEST(DecideInstall, AnInstallTheCheckAsksForIsFull) {
  InstallFacts facts;
  facts.Currency.Row = CurrencyRow::FileOlder;
  facts.Driver = ServicePresence::Running;
  const InstallChoice choice = DecideInstall(facts);
  EXPECT_TRUE(choice.FullInstall);
  EXPECT_FALSE(choice.UnfinishedInstall);
  EXPECT_FALSE(choice.DriverServiceAbsent);
}

}  // namespace
