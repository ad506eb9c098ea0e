// The journal in process: off it keeps nothing, and the record's text.
#include "journal/run_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace {

class RunJournalTest : public testing::Test {
 protected:
  void TearDown() override { JournalReset(); }
  static void Begin(bool keep_state) {
    JournalSettings settings;
    settings.KeepState = keep_state;
    char program[] = "mevrid.exe";
    char* argv[] = {program};
    JournalBegin(settings, 1, argv);
  }
};

TEST_F(RunJournalTest, OffItKeepsNothing) {
  Begin(false);
  JournalStep("copy");
  JournalChange("copied", "C:\\x");
  JournalCallFailed("CopyFileA", 5, "C:\\x");
  JournalFileSetAside("C:\\x", "\\s1.");
  EXPECT_FALSE(JournalActive());
  EXPECT_FALSE(JournalChanged());
  EXPECT_FALSE(JournalRestartRequired());
  EXPECT_NE(JournalRecordJson(0).find("\"errors\":[]"), std::string::npos);
}

// Absence counts as an error only outside a scope that expects it, and only
// the "not there" codes are excused.
TEST_F(RunJournalTest, ErrorsAreFiledUnderTheirStepAndAbsenceIsExcusedOnlyWhereExpected) {
  Begin(true);
  JournalStep("stop-driver");
  {
    JournalAbsenceExpected absence_expected;
    JournalCallFailed("OpenServiceA", ERROR_SERVICE_DOES_NOT_EXIST, "vtrin");
    JournalCallFailed("OpenServiceA", ERROR_ACCESS_DENIED, "vtrin");
  }
  JournalStep("unregister");
  JournalCallFailed("RegDeleteKeyA", ERROR_FILE_NOT_FOUND, "R\\\"x\"\t\xe9");
  const std::string record = JournalRecordJson(1603);
  EXPECT_NE(record.find(R"("errors":[{"step":"stop-driver","call":"OpenServiceA","code":5,"subject":"vtrin"},)"
                        R"({"step":"unregister","call":"RegDeleteKeyA","code":2,"subject":"R\\\"x\"\u0009\u00e9"}])"),
            std::string::npos)
      << record;
}

TEST_F(RunJournalTest, TheRecordKeepsTheKeysInTheirOrder) {
  Begin(true);
  JournalSetMode(RunMode::Remove);
  JournalSetOutcome(RunOutcome::RemovedComponent);
  JournalSetReference("ALPHA");
  JournalSetVersions("4.0", nullptr);
  JournalChange("deleted", "C:\\WINDOWS\\mevrid.exe");
  JournalFileSetAside("C:\\WINDOWS\\mevrid.exe", "\\s1.");
  JournalAddFailedPhase("During KOTA component uninstall.");
  EXPECT_EQ(JournalRecordJson(3010),
            R"({"schema":1,"mode":"remove","outcome":"removed-component","exit_status":3010,"changed":true,)"
            R"("restart_required":true,"failed_phases":["During KOTA component uninstall."],"errors":[],)"
            R"("reference":"ALPHA","version_before":"4.0","version_after":null})");
}

// What the record replaces: a file that opens and ends as a record does,
// judged on the bytes a look at its two ends gives.
TEST_F(RunJournalTest, OnlyARecordsOpeningAndEndMakeAFileARecord) {
  Begin(true);
  const std::string record = JournalRecordJson(0) + "\n";
  auto ends = [](const std::string& text) {
    const size_t n = std::min(text.size(), kRecordSignatureSize);
    return std::pair{text.substr(0, n), text.substr(text.size() - n)};
  };
  const struct {
    std::string text;
    bool is_record;
  } cases[] = {
      {record, true},
      {R"({"schema":12,"mode":"x"}
)", true},
      {record.substr(0, record.size() - 1), false},    // cut short: no line end
      {R"({"schema":,"mode":"x"}
)", false},          // no schema number
      {R"({"schema":1,"kind":"x"}
)", false},         // another object
      {std::string("SQLite format 3\0", 16) + "}\n", false},  // a database
      {"", false},                                     // the empty lock file
      {"{}\n", false},
  };
  for (const auto& c : cases) {
    const auto [head, tail] = ends(c.text);
    EXPECT_EQ(IsRecordText(head, tail), c.is_record) << c.text;
  }
}

}  // namespace
