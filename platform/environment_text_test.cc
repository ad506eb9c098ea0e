#include "platform/environment_text.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_machine.h"

namespace {

class EnvironmentTextTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("SystemRoot"); }

  testsupport::TestMachine machine_;
};

TEST_F(EnvironmentTextTest, TheWindowsDirectoryComesFromSystemRoot) {
  ASSERT_NE(LookupWindowsDirectory(), nullptr);
  EXPECT_STREQ(LookupWindowsDirectory(), "C:\\WINDOWS");
  setenv("SystemRoot", "D:\\WINNT", 1);
  EXPECT_STREQ(LookupWindowsDirectory(), "D:\\WINNT");
  setenv("SystemRoot", "", 1);
  EXPECT_EQ(LookupWindowsDirectory(), nullptr);
}

TEST_F(EnvironmentTextTest, ExpansionNeverHandsOnACutText) {
  char out[kTextBufferSize + 1];
  memset(out, 'z', sizeof out);
  ASSERT_TRUE(ExpandText("C:\\plain\\text -o", out));
  EXPECT_STREQ(out, "C:\\plain\\text -o");
  ASSERT_TRUE(ExpandText("%SystemRoot%\\mevrid.exe", out));
  EXPECT_STREQ(out, "C:\\WINDOWS\\mevrid.exe");

  // 259 characters fit; 260 do not.
  std::string fits = "%SystemRoot%\\" + std::string(259 - 11, 'f');
  ASSERT_TRUE(ExpandText(fits.c_str(), out));
  EXPECT_EQ(strlen(out), 259u);
  std::string too_long = fits + "g";
  EXPECT_FALSE(ExpandText(too_long.c_str(), out));
  EXPECT_STREQ(out, "");
  EXPECT_EQ(out[kTextBufferSize], 'z');
}

}  // namespace
