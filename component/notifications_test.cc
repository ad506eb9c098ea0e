#include "component/notifications.h"

#include "component/component_keys.h"
#include "component/references.h"
#include "component/run_and_wait.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

// Pre-processors are the record_args helper, each given its product's name
// as its own argument so the recorded lines show who was told what, in order.
class NotificationTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    PutHelper("record_args", "C:\\Products\\Alpha\\pre.exe");
    PutHelper("record_args", "C:\\Products\\Beta\\pre.exe");
  }
  void Register(const char* name, const std::string& image) {
    SetRegistryBytes((std::string(kKotaReferencesKey) + "\\") + name, "PreProcImage", REG_EXPAND_SZ, image);
  }
};

using Lines = std::vector<std::string>;

TEST_F(NotificationTest, WalksFindNothingWithoutReferences) {
  std::string out = Captured([&] {
    EXPECT_EQ(NotifyAllReferencesEnd(1), 1);
    EXPECT_EQ(NotifyAllReferencesBegin(1), 1);
  });
  EXPECT_EQ(out, "");
  EXPECT_FALSE(KeyExists(kKotaReferencesKey));

  SetRegistryBytes(kKotaComponentKey, "x", REG_SZ, "");
  emu::admin::CreateKey(kKotaReferencesKey);
  out = Captured([&] { EXPECT_EQ(NotifyAllReferencesEnd(1), 1); });
  EXPECT_EQ(out, "");
  EXPECT_TRUE(RecordedLines().empty());
}

TEST_F(NotificationTest, EveryReferenceIsToldInTheRegistrysOrder) {
  Register("BETA", "C:\\Products\\Beta\\pre.exe BETA");
  Register("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA");
  std::string out = Captured([&] { EXPECT_EQ(NotifyAllReferencesEnd(1), 1); });
  EXPECT_EQ(out, "\nStopping: ALPHA\n\nStopping: BETA\n");
  out = Captured([&] { EXPECT_EQ(NotifyAllReferencesBegin(1), 1); });
  EXPECT_EQ(out, "\nStarting: ALPHA\n\nStarting: BETA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e", "BETA -e", "ALPHA -b", "BETA -b"}));
}

TEST_F(NotificationTest, QuietWalksPrintNothingAndPassQ) {
  Register("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA");
  std::string out = Captured([&] {
    EXPECT_EQ(NotifyAllReferencesEnd(0), 1);
    EXPECT_EQ(NotifyAllReferencesBegin(0), 1);
    EXPECT_EQ(NotifyReferenceEnd("ALPHA", 0), 1);
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e -q", "ALPHA -b -q", "ALPHA -e -q"}));
}

TEST_F(NotificationTest, AReferenceWithoutImageIsNamedAndPassedOver) {
  emu::admin::CreateKey(std::string(kKotaReferencesKey) + "\\ALPHA");
  Register("BETA", "C:\\Products\\Beta\\pre.exe BETA");
  std::string out = Captured([&] { EXPECT_EQ(NotifyAllReferencesEnd(1), 1); });
  EXPECT_EQ(out, "\nStopping: ALPHA\n\nStopping: BETA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"BETA -e"}));
}

TEST_F(NotificationTest, ImagesAreExpandedAtEachNotification) {
  PutHelper("record_args", "C:\\WINDOWS\\pre.exe");
  ASSERT_EQ(RegisterReference("SYS", "%SystemRoot%\\pre.exe SYS", 1), 1);
  EXPECT_EQ(NotifyAllReferencesEnd(1), 1);
  EXPECT_EQ(NotifyReferenceEnd("SYS", 1), 1);
  EXPECT_EQ(RecordedLines(), (Lines{"SYS -e", "SYS -e"}));
  std::string bytes;
  ASSERT_TRUE(GetRegistryBytes(std::string(kKotaReferencesKey) + "\\SYS", "PreProcImage", &bytes));
  EXPECT_EQ(bytes, "%SystemRoot%\\pre.exe SYS");

  // A different Windows directory at the next notification is the one used.
  PutHelper("record_args", "C:\\WIN2\\pre.exe");
  ASSERT_EQ(unlink(Host("C:\\WINDOWS\\pre.exe").c_str()), 0);
  setenv("SystemRoot", "C:\\WIN2", 1);
  EXPECT_EQ(NotifyReferenceEnd("SYS", 1), 1);
  EXPECT_EQ(RecordedLines(), (Lines{"SYS -e", "SYS -e", "SYS -e"}));
}

TEST_F(NotificationTest, AProgramThatCannotStartIsPassedOver) {
  Register("ALPHA", "C:\\Products\\Absent\\pre.exe ALPHA");
  Register("BETA", "C:\\Products\\Beta\\pre.exe BETA");
  std::string out = Captured([&] {
    EXPECT_EQ(NotifyAllReferencesEnd(1), 1);
    EXPECT_EQ(NotifyReferenceEnd("ALPHA", 1), 1);
  });
  EXPECT_EQ(out, "\nStopping: ALPHA\n\nStopping: BETA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"BETA -e"}));
  EXPECT_EQ(RunAndWait("C:\\Products\\Absent\\pre.exe -e", 1), 0);
  EXPECT_EQ(RunAndWait("C:\\Products\\Beta\\pre.exe DIRECT", 1), 1);
  EXPECT_EQ(RecordedLines(), (Lines{"BETA -e", "DIRECT"}));
}

TEST_F(NotificationTest, APreProcessorThatNeverEndsHoldsTheWalkForTwoMinutes) {
  // Half a real second stands for the two minutes of virtual time.
  ASSERT_TRUE(emu::SetSetting("process-real-wait-ms", "500"));
  PutHelper("never_ends", "C:\\Products\\Alpha\\hang.exe");
  Register("ALPHA", "C:\\Products\\Alpha\\hang.exe");
  long long before = machine_.NowMs();
  EXPECT_EQ(NotifyReferenceEnd("ALPHA", 1), 1);
  EXPECT_EQ(machine_.NowMs() - before, 120000);
  // Left running, not ended by the tool.
  EXPECT_EQ(StartedPrograms().size(), 1u);

  // The next reference is told all the same, after the full wait (and the
  // little real time its own pre-processor takes).
  Register("BETA", "C:\\Products\\Beta\\pre.exe BETA");
  before = machine_.NowMs();
  EXPECT_EQ(NotifyAllReferencesEnd(1), 1);
  EXPECT_GE(machine_.NowMs() - before, 120000);
  EXPECT_LT(machine_.NowMs() - before, 121000);
  EXPECT_EQ(RecordedLines(), (Lines{"BETA -e"}));
  EXPECT_EQ(StartedPrograms().size(), 2u);
  KillStartedPrograms();
}

TEST_F(NotificationTest, AnEnumerationErrorEndsTheWalk) {
  Register("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA");
  Register("BETA", "C:\\Products\\Beta\\pre.exe BETA");
  Fault("RegEnumKeyExA", "", ERROR_ACCESS_DENIED, 2);
  std::string out = Captured([&] { EXPECT_EQ(NotifyAllReferencesEnd(1), 0); });
  EXPECT_EQ(out, "\nStopping: ALPHA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e"}));
}

TEST_F(NotificationTest, ASubkeyThatCannotBeOpenedIsSkippedSilently) {
  Register("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA");
  Register("BETA", "C:\\Products\\Beta\\pre.exe BETA");
  Fault("RegOpenKeyExA", "ALPHA", ERROR_ACCESS_DENIED);
  std::string out = Captured([&] { EXPECT_EQ(NotifyAllReferencesBegin(1), 1); });
  EXPECT_EQ(out, "\nStarting: BETA\n");
  EXPECT_EQ(RecordedLines(), (Lines{"BETA -b"}));
}

TEST_F(NotificationTest, NotifyReferenceEndFailsWithoutRunningWhenItCannotFormTheCommand) {
  // No such reference.
  EXPECT_EQ(NotifyReferenceEnd("GHOST", 1), 0);
  // No image.
  emu::admin::CreateKey(std::string(kKotaReferencesKey) + "\\EMPTY");
  EXPECT_EQ(NotifyReferenceEnd("EMPTY", 1), 0);
  // An expansion that does not fit its buffer (259 characters expand to
  // 259 - 12 + 10 = 257, plus " -e" is 260: one too many for the line).
  std::string padding(259 - std::string("%SystemRoot%\\pre.exe ").size(), 'p');
  ASSERT_EQ(RegisterReference("LONGLINE", ("%SystemRoot%\\pre.exe " + padding).c_str(), 1), 1);
  PutHelper("record_args", "C:\\WINDOWS\\pre.exe");
  EXPECT_EQ(NotifyReferenceEnd("LONGLINE", 1), 0);
  // An expansion over 260 characters.
  setenv("SystemRoot", ("C:\\" + std::string(250, 'w')).c_str(), 1);
  ASSERT_EQ(RegisterReference("LONGEXPANSION", "%SystemRoot%\\pre.exe", 1), 1);
  EXPECT_EQ(NotifyReferenceEnd("LONGEXPANSION", 1), 0);
  unsetenv("SystemRoot");
  // A name too long for its key path.
  EXPECT_EQ(NotifyReferenceEnd(std::string(205, 'N').c_str(), 1), 0);

  Register("ALPHA", "C:\\Products\\Alpha\\pre.exe ALPHA");
  std::string out = Captured([&] { EXPECT_EQ(NotifyReferenceEnd("ALPHA", 1), 1); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(RecordedLines(), (Lines{"ALPHA -e"}));
}

// An image that fills the 260-byte buffer without a terminator does not fit:
// the reference counts as having no image and nothing cut is run.
TEST_F(NotificationTest, AnImageThatFillsTheBufferCountsAsMissing) {
  std::string image = "C:\\Products\\Alpha\\pre.exe " + std::string(260 - 26, 'a');
  ASSERT_EQ(image.size(), 260u);
  Register("ALPHA", image);
  std::string out = Captured([&] { EXPECT_EQ(NotifyAllReferencesEnd(1), 1); });
  EXPECT_EQ(out, "\nStopping: ALPHA\n");
  EXPECT_EQ(NotifyReferenceEnd("ALPHA", 1), 0);
  EXPECT_TRUE(RecordedLines().empty());
}

}  // namespace
}  // namespace componenttest
