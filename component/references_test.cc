#include "component/references.h"

#include "component/component_keys.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

const std::string kAlphaKey = std::string(kKotaReferencesKey) + "\\ALPHA";

using RegisterReferenceTest = ComponentTest;

TEST_F(RegisterReferenceTest, StoresTheImageUnexpandedWithoutTerminator) {
  std::string out = Captured([&] { EXPECT_EQ(RegisterReference("ALPHA", "%SystemRoot%\\pre.exe /x", 1), 1); });
  EXPECT_EQ(out, "");
  std::string bytes;
  DWORD type = 0;
  ASSERT_TRUE(GetRegistryBytes(kAlphaKey, "PreProcImage", &bytes, &type));
  EXPECT_EQ(bytes, "%SystemRoot%\\pre.exe /x");
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(KeyClass(kAlphaKey), "REG_SZ");
  EXPECT_EQ(machine_.Export(kKotaComponentKey),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA]\r\n"
            // regedit writes hex(2) as UTF-16; no terminator was stored.
            "\"PreProcImage\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,\\\r\n"
            "  00,74,00,25,00,5c,00,70,00,72,00,65,00,2e,00,65,00,78,00,65,00,20,00,2f,00,\\\r\n"
            "  78,00\r\n\r\n");
}

TEST_F(RegisterReferenceTest, RegisteringAgainOverwritesTheImage) {
  ASSERT_EQ(RegisterReference("ALPHA", "C:\\first.exe with more", 1), 1);
  EXPECT_EQ(RegisterReference("ALPHA", "C:\\b.exe", 1), 1);
  std::string bytes;
  ASSERT_TRUE(GetRegistryBytes(kAlphaKey, "PreProcImage", &bytes));
  EXPECT_EQ(bytes, "C:\\b.exe");
  emu::admin::RegKey references;
  ASSERT_TRUE(emu::admin::ReadKey(kKotaReferencesKey, &references));
  EXPECT_EQ(references.subkeys.size(), 1u);
}

TEST_F(RegisterReferenceTest, FailuresAreReportedWithTheName) {
  Fault("RegCreateKeyExA", "References\\ALPHA", ERROR_ACCESS_DENIED);
  std::string out = Captured([&] { EXPECT_EQ(RegisterReference("ALPHA", "C:\\a.exe", 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not install referenced component - ALPHA\n");
  EXPECT_FALSE(KeyExists(kAlphaKey));

  // A failed write leaves the subkey with the image it had.
  ASSERT_EQ(RegisterReference("ALPHA", "C:\\a.exe", 1), 1);
  Fault("RegSetValueExA", "PreProcImage", ERROR_ACCESS_DENIED);
  out = Captured([&] { EXPECT_EQ(RegisterReference("ALPHA", "C:\\b.exe", 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not install referenced component - ALPHA\n");
  std::string bytes;
  ASSERT_TRUE(GetRegistryBytes(kAlphaKey, "PreProcImage", &bytes));
  EXPECT_EQ(bytes, "C:\\a.exe");

  Fault("RegSetValueExA", "PreProcImage", ERROR_ACCESS_DENIED);
  out = Captured([&] { EXPECT_EQ(RegisterReference("ALPHA", "C:\\b.exe", 0), 0); });
  EXPECT_EQ(out, "");
}

// 204 characters make a key path of exactly 259; one more would be cut to
// some other reference's path, so it is refused whole.
TEST_F(RegisterReferenceTest, ANameTooLongForItsKeyPathIsRefused) {
  std::string longest(204, 'N');
  EXPECT_EQ(RegisterReference(longest.c_str(), "C:\\a.exe", 1), 1);
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\" + longest));

  std::string too_long = longest + "X";
  std::string out = Captured([&] { EXPECT_EQ(RegisterReference(too_long.c_str(), "C:\\b.exe", 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not install referenced component - " + too_long + "\n");
  EXPECT_FALSE(KeyExists(std::string(kKotaReferencesKey) + "\\" + too_long));
  std::string bytes;
  ASSERT_TRUE(GetRegistryBytes(std::string(kKotaReferencesKey) + "\\" + longest, "PreProcImage", &bytes));
  EXPECT_EQ(bytes, "C:\\a.exe");
}

using DeleteReferenceTest = ComponentTest;

TEST_F(DeleteReferenceTest, DeletesOnlyThatSubkey) {
  ASSERT_EQ(RegisterReference("ALPHA", "C:\\a.exe", 1), 1);
  ASSERT_EQ(RegisterReference("BETA", "C:\\b.exe", 1), 1);
  std::string out = Captured([&] { EXPECT_EQ(DeleteReference("ALPHA", 1), 1); });
  EXPECT_EQ(out, "");
  EXPECT_FALSE(KeyExists(kAlphaKey));
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\BETA"));
}

TEST_F(DeleteReferenceTest, AMissingOrUndeletableNameIsReported) {
  std::string out = Captured([&] { EXPECT_EQ(DeleteReference("GHOST", 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not delete referenced component - GHOST\n");
  out = Captured([&] { EXPECT_EQ(DeleteReference("GHOST", 0), 0); });
  EXPECT_EQ(out, "");

  ASSERT_EQ(RegisterReference("ALPHA", "C:\\a.exe", 1), 1);
  Fault("RegDeleteKeyA", "ALPHA", ERROR_ACCESS_DENIED);
  out = Captured([&] { EXPECT_EQ(DeleteReference("ALPHA", 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not delete referenced component - ALPHA\n");
  EXPECT_TRUE(KeyExists(kAlphaKey));

  std::string too_long(205, 'N');
  SetRegistryBytes(std::string(kKotaReferencesKey) + "\\" + too_long.substr(0, 204), "PreProcImage", REG_SZ, "C:\\a.exe");
  out = Captured([&] { EXPECT_EQ(DeleteReference(too_long.c_str(), 1), 0); });
  EXPECT_EQ(out, "\tERROR: Could not delete referenced component - " + too_long + "\n");
  EXPECT_TRUE(KeyExists(std::string(kKotaReferencesKey) + "\\" + too_long.substr(0, 204)));
}

}  // namespace
}  // namespace componenttest
