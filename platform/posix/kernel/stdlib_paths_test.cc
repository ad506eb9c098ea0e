// The C runtime's path operations, temporary names, environment lookup and
// user locale as a Windows program's runtime gives them on the emulated
// machine.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/admin.h"
#include "tests/support/test_machine.h"

namespace {

using testsupport::FileExists;
using testsupport::TestMachine;

std::string Base32(unsigned long value) {
  std::string digits;
  for (; value; value >>= 5) digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuv"[value & 31]);
  return digits;
}

// Sets or removes environment variables for one test, and puts them back.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    Save(name);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  // No locale variable: the machine's setting decides.
  void UnsetLocale() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) Set(name, nullptr);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second.first)
        setenv(it->first.c_str(), it->second.second.c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }

 private:
  void Save(const char* name) {
    const char* old = getenv(name);
    saved_.push_back({name, {old != nullptr, old ? old : ""}});
  }
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

// The temporary names need a process whose counter has not moved yet: the
// statement runs in a fresh copy of this test binary.
TEST(PlatformTmpnam, CountsFromAnEmptySuffixInTheRootOfTheCurrentDrive) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        bool ok = false;
        {  // the machine goes before the exit, with its directory
          TestMachine machine;
          const std::string prefix = "\\s" + Base32(static_cast<unsigned long>(getpid())) + ".";
          ok = std::string(PlatformTmpnam()) == prefix;
          ok = ok && std::string(PlatformTmpnam()) == prefix + "1";
          // Names that exist are skipped; the trailing dot of the first name
          // is no part of the file's name.
          testsupport::WriteFile(machine.DriveC() + "/s" + Base32(static_cast<unsigned long>(getpid())) + ".2", "");
          testsupport::WriteFile(machine.DriveC() + "/s" + Base32(static_cast<unsigned long>(getpid())) + ".3", "");
          ok = ok && std::string(PlatformTmpnam()) == prefix + "4";
          for (int i = 5; i < 40; ++i) ok = ok && std::string(PlatformTmpnam()) == prefix + Base32(i);
        }
        exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(PlatformTmpnam, NamesLandOnTheCurrentDriveAndTheFallbackDeletionWorks) {
  TestMachine machine;
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/WINDOWS/mevrid.exe", "tool", true));
  const char* name = PlatformTmpnam();
  ASSERT_NE(name, nullptr);
  ASSERT_EQ(name[0], '\\');
  std::string temporary = name;
  ASSERT_EQ(PlatformRename("C:\\WINDOWS\\mevrid.exe", name), 0);
  std::string host = machine.DriveC() + "/" + temporary.substr(1);
  while (host.back() == '.') host.pop_back();
  EXPECT_TRUE(FileExists(host));
  EXPECT_NE(std::string(PlatformTmpnam()), temporary);
}

TEST(PlatformPaths, RemoveRenameAndChmodAnswerAsTheWindowsRuntime) {
  TestMachine machine;
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/a.txt", "a"));
  ASSERT_EQ(chmod((machine.DriveC() + "/a.txt").c_str(), 0444), 0);
  errno = 0;
  EXPECT_EQ(PlatformRemove("C:\\A.TXT"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(PlatformMakeWritable("C:\\A.TXT"), 0);
  EXPECT_EQ(PlatformRemove("C:\\A.TXT"), 0);
  EXPECT_FALSE(FileExists(machine.DriveC() + "/a.txt"));
  errno = 0;
  EXPECT_EQ(PlatformRemove("C:\\a.txt"), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(PlatformMakeWritable("C:\\a.txt"), -1);
  EXPECT_EQ(errno, ENOENT);
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/b.txt", "b"));
  ASSERT_TRUE(testsupport::WriteFile(machine.DriveC() + "/c.txt", "c"));
  errno = 0;
  EXPECT_EQ(PlatformRename("C:\\b.txt", "C:\\c.txt"), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(PlatformRename("C:\\b.txt", "C:\\d.txt"), 0);
  EXPECT_EQ(testsupport::ReadFile(machine.DriveC() + "/d.txt"), "b");
}

TEST(PlatformGetEnv, SystemRootFallsBackToTheMachineOnlyWhenAbsent) {
  TestMachine machine;
  ScopedEnv env;
  env.Set("SystemRoot", nullptr);
  env.Set("SYSTEMROOT", nullptr);
  ASSERT_NE(PlatformGetEnv("SystemRoot"), nullptr);
  EXPECT_STREQ(PlatformGetEnv("SystemRoot"), "C:\\WINDOWS");
  EXPECT_STREQ(PlatformGetEnv("systemroot"), "C:\\WINDOWS");
  ASSERT_TRUE(emu::SetSetting("system-root", "D:\\WINNT"));
  EXPECT_STREQ(PlatformGetEnv("SystemRoot"), "D:\\WINNT");
  env.Set("SYSTEMROOT", "E:\\W");  // names are compared without case
  EXPECT_STREQ(PlatformGetEnv("SystemRoot"), "E:\\W");
  env.Set("SystemRoot", "");  // present but empty: the directory is not set
  EXPECT_STREQ(PlatformGetEnv("SystemRoot"), "");
  env.Set("MEVRID_UNSET_VARIABLE", nullptr);
  EXPECT_EQ(PlatformGetEnv("MEVRID_UNSET_VARIABLE"), nullptr);
}

TEST(PlatformSetUserLocale, JapaneseOnlyForAJapaneseUser) {
  TestMachine machine;
  ScopedEnv env;
  env.UnsetLocale();
  EXPECT_STREQ(PlatformSetUserLocale(), "English_United States.1252");
  ASSERT_TRUE(emu::SetSetting("user-locale", "Japanese_Japan.932"));
  EXPECT_STREQ(PlatformSetUserLocale(), "Japanese_Japan.932");
  ASSERT_TRUE(emu::SetSetting("user-locale", "German_Germany.1252"));
  EXPECT_STREQ(PlatformSetUserLocale(), "German_Germany.1252");
  for (const char* japanese : {"ja_JP.SJIS", "ja_JP.CP932", "ja_jp.shift_jis", "ja_JP.UTF-8", "ja_JP", "ja_JP@x"}) {
    env.Set("LANG", japanese);
    EXPECT_STREQ(PlatformSetUserLocale(), "Japanese_Japan.932") << japanese;
  }
  for (const char* other : {"en_US.UTF-8", "C", "jap", "ja_JPX"}) {
    env.Set("LANG", other);
    EXPECT_STREQ(PlatformSetUserLocale(), "German_Germany.1252") << other;
  }
  // POSIX precedence: LC_ALL, then LC_CTYPE, then LANG.
  env.Set("LANG", "ja_JP.SJIS");
  env.Set("LC_CTYPE", "en_US.UTF-8");
  EXPECT_STREQ(PlatformSetUserLocale(), "German_Germany.1252");
  env.Set("LC_ALL", "ja_JP.eucJP");
  EXPECT_STREQ(PlatformSetUserLocale(), "Japanese_Japan.932");
}

TEST(PlatformSetUserLocale, EveryNameOfTheJapaneseSettingIsTheOneWindowsLocale) {
  TestMachine machine;
  ScopedEnv env;
  env.UnsetLocale();
  for (const char* japanese : {"japanese_japan.932", "Japanese", "Japanese_Japan", "ja-JP", "ja", "ja_JP.SJIS",
                               "ja_JP.UTF-8", "ja_JP"}) {
    ASSERT_TRUE(emu::SetSetting("user-locale", japanese));
    EXPECT_STREQ(PlatformSetUserLocale(), "Japanese_Japan.932") << japanese;
  }
  // Anything else keeps its own name, whatever it begins with.
  for (const char* other : {"Japan", "JapaneseX", "jap", "ja_JPX", "C", "English_United Kingdom.1252"}) {
    ASSERT_TRUE(emu::SetSetting("user-locale", other));
    EXPECT_STREQ(PlatformSetUserLocale(), other) << other;
  }
}

}  // namespace
