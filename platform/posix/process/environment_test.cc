// The Windows directory in the environment of the emulated machine: the
// process's "SystemRoot" when present (also when empty), else the machine's.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/admin.h"
#include "platform/posix/internal.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

std::string Expand(const char* text) {
  char buffer[MAX_PATH];
  DWORD needed = ExpandEnvironmentStringsA(text, buffer, sizeof buffer);
  EXPECT_EQ(needed, strlen(buffer) + 1) << text;
  return buffer;
}

TEST(WindowsDirectory, ComesFromTheProcessWhenSetAndFromTheMachineWhenAbsent) {
  testsupport::TestMachine machine;  // takes SystemRoot out of the environment
  EXPECT_EQ(emu::WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_EQ(Expand("%SystemRoot%\\mevrid.exe -o"), "C:\\WINDOWS\\mevrid.exe -o");
  EXPECT_EQ(Expand("%WINDIR%\\system32"), "C:\\WINDOWS\\system32");
  ASSERT_TRUE(emu::SetSetting("system-root", "C:\\WINNT"));
  EXPECT_EQ(emu::WindowsDirectory(), "C:\\WINNT");
  EXPECT_EQ(Expand("%systemroot%"), "C:\\WINNT");
  setenv("SYSTEMROOT", "D:\\Win", 1);
  EXPECT_EQ(emu::WindowsDirectory(), "D:\\Win");
  EXPECT_EQ(Expand("%SystemRoot%\\x"), "D:\\Win\\x");
  unsetenv("SYSTEMROOT");
  setenv("SystemRoot", "", 1);
  EXPECT_EQ(emu::WindowsDirectory(), "");
  EXPECT_EQ(Expand("%SystemRoot%\\x"), "\\x");
  unsetenv("SystemRoot");
}

TEST(ExpandEnvironmentStrings, FaultRulesFailItWithZero) {
  testsupport::TestMachine machine;
  ASSERT_TRUE(emu::AddFaultRule("ExpandEnvironmentStringsA", "%PATH%", ERROR_NOT_ENOUGH_MEMORY, 1, false));
  char buffer[MAX_PATH] = "untouched";
  SetLastError(0);
  EXPECT_EQ(ExpandEnvironmentStringsA("x %PATH%", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(ExpandEnvironmentStringsA("%NOPE%", buffer, sizeof buffer), 7u);
}

}  // namespace
