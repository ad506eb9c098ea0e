// ExpandEnvironmentStringsA as Windows answers it, held against the
// emulation and against Wine: names without case, unknown names and stray
// percent signs left as written, and the size needed, terminator included,
// also when the buffer is too small.
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "tests/conformance/conformance.h"

namespace {

constexpr char kCanary = '#';

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

class EnvironmentCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    SetVariable("MEVRID_CONF_FOO", "bar");
    SetVariable("MEVRID_CONF_UNSET", nullptr);
  }
  void TearDown() override { SetVariable("MEVRID_CONF_FOO", nullptr); }

  // The expansion into a roomy buffer; the size answered must count it and
  // its terminator.
  std::string Expand(const char* text) {
    char buffer[300];
    memset(buffer, kCanary, sizeof buffer);
    DWORD needed = ExpandEnvironmentStringsA(text, buffer, sizeof buffer);
    EXPECT_NE(needed, 0u) << text;
    std::string result(buffer);
    EXPECT_EQ(needed, result.size() + 1) << text;
    EXPECT_EQ(buffer[needed], kCanary) << text;
    return result;
  }
  // Each text expands to the text beside it.
  void ExpectExpansions(std::initializer_list<std::pair<const char*, const char*>> cases) {
    for (const auto& [text, expanded] : cases) EXPECT_EQ(Expand(text), expanded) << text;
  }
};

TEST_F(EnvironmentCalls, NamesAreReplacedWithoutRegardToCase) {
  ExpectExpansions({
      {"%MEVRID_CONF_FOO%", "bar"},
      {"%mevrid_conf_foo%x", "barx"},
      {"x%MEVRID_CONF_FOO%%Mevrid_Conf_Foo%y", "xbarbary"},
      {"no references here", "no references here"},
      {"", ""},
  });
}

TEST_F(EnvironmentCalls, UnknownNamesAndStrayPercentSignsStayAsWritten) {
  ExpectExpansions({
      {"%MEVRID_CONF_UNSET%\\x", "%MEVRID_CONF_UNSET%\\x"},
      {"a%b", "a%b"},
      {"%", "%"},
      {"%%", "%%"},
      {"%MEVRID_CONF_FOO", "%MEVRID_CONF_FOO"},
      // After an unknown "%...%" the scan goes on behind its closing sign.
      {"%%MEVRID_CONF_FOO%%", "%%MEVRID_CONF_FOO%%"},
      {"%=%", "%=%"},
  });
}

TEST_F(EnvironmentCalls, TheWindowsDirectoryIsInTheEnvironment) {
  std::string root = Expand("%SystemRoot%");
  EXPECT_NE(root, "%SystemRoot%");
  ASSERT_GE(root.size(), 3u);
  EXPECT_EQ(root.substr(1, 2), ":\\");
  EXPECT_EQ(Expand("%SYSTEMROOT%\\mevrid.exe -o"), root + "\\mevrid.exe -o");
  EXPECT_EQ(Expand("%windir%"), root);
}

TEST_F(EnvironmentCalls, ATooSmallBufferGetsTheSizeNeeded) {
  const char* text = "x%MEVRID_CONF_FOO%yz";  // "xbaryz": 7 with the terminator
  for (DWORD size = 0; size <= 8; ++size) {
    char buffer[16];
    memset(buffer, kCanary, sizeof buffer);
    SetLastError(0);
    EXPECT_EQ(ExpandEnvironmentStringsA(text, buffer, size), 7u) << size;
    // Never a byte behind the size given.
    for (DWORD i = size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], kCanary) << size << " " << i;
    if (size >= 7) {
      EXPECT_STREQ(buffer, "xbaryz");
    } else if (!conformance::kRealWin32 || conformance::UnderWine()) {
      // What fits, terminated, and the error: Windows leaves both unsaid;
      // the emulation answers as Wine does.
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << size;
      if (size > 0) {
        EXPECT_EQ(std::string(buffer), std::string("xbaryz").substr(0, size - 1)) << size;
      }
    }
  }
  SetLastError(0);
  EXPECT_EQ(ExpandEnvironmentStringsA(text, nullptr, 0), 7u);
}

}  // namespace
