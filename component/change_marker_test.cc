// The change marker's text: one entry per change left unfinished, each run
// adding and taking out only its own, and the single entries of earlier
// builds read as they were written.
#include "component/change_marker.h"

#include <gtest/gtest.h>

#include "component/component_keys.h"
#include "tests/support/component_fixture.h"

namespace componenttest {
namespace {

struct MarkerText {
  const char* name;
  const char* text;
  bool install;
  std::vector<std::string> removals;
  const char* written;  // the text written back
  bool kept_aside = false;
};
void PrintTo(const MarkerText& c, std::ostream* os) { *os << c.name; }

class ChangeMarkerTexts : public testing::TestWithParam<MarkerText> {};

TEST_P(ChangeMarkerTexts, ReadsAndWritesEveryEntry) {
  const MarkerText& c = GetParam();
  const ChangeMarker marker = ParseChangeMarker(c.text);
  EXPECT_EQ(marker.Install, c.install);
  EXPECT_EQ(marker.Removals, c.removals);
  EXPECT_EQ(marker.KeptAside, c.kept_aside);
  EXPECT_EQ(ChangeMarkerText(marker), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ChangeMarkerTexts,
    testing::Values(
        MarkerText{"Empty", "", false, {}, ""}, MarkerText{"Install", "Install", true, {}, "Install"},
        MarkerText{"OneRemoval", "Remove ALPHA", false, {"ALPHA"}, "Remove ALPHA"},
        MarkerText{"NameWithBlanks", "Remove MY PRODUCT", false, {"MY PRODUCT"}, "Remove MY PRODUCT"},
        MarkerText{
            "InstallAndRemovals", "Install\\Remove A\\Remove B", true, {"A", "B"}, "Install\\Remove A\\Remove B"},
        // Written in any order, read back with the install first.
        MarkerText{"InstallLast", "Remove A\\Install", true, {"A"}, "Install\\Remove A"},
        // The entry of old files kept aside follows the install's; alone, it
        // still keeps the value. "Discard" follows it.
        MarkerText{"KeptAside", "Remove A\\KeptAside\\Install", true, {"A"}, "Install\\KeptAside\\Remove A", true},
        MarkerText{"KeptAsideAlone", "KeptAside", false, {}, "KeptAside", true},
        MarkerText{"KeptFiles", "Discard\\Remove A\\KeptAside\\Install", true, {"A"},
                   "Install\\KeptAside\\Discard\\Remove A", true},
        MarkerText{"RepeatedRemoval", "Remove A\\Remove A", false, {"A"}, "Remove A"},
        MarkerText{"UnknownEntriesDropped", "Upgrade\\Remove \\\\Remove B", false, {"B"}, "Remove B"}),
    [](const testing::TestParamInfo<MarkerText>& info) { return std::string(info.param.name); });

using ChangeMarkerEntries = ComponentTest;

// Each run takes out its own entry only; the last one out removes the value.
TEST_F(ChangeMarkerEntries, EachRunTakesOutOnlyItsOwn) {
  EXPECT_FALSE(MarkInstall());  // no component key: nothing to mark
  ASSERT_TRUE(emu::admin::CreateKey(kKotaComponentKey));
  EXPECT_TRUE(MarkRemoval("ALPHA"));
  EXPECT_TRUE(MarkInstall());
  EXPECT_TRUE(MarkRemoval("BETA"));
  EXPECT_TRUE(MarkRemoval("ALPHA"));
  EXPECT_EQ(emu::admin::ReadString(kKotaComponentKey, kChangeMarkerValue), "Install\\Remove ALPHA\\Remove BETA");
  UnmarkRemoval("ALPHA");
  UnmarkInstall();
  EXPECT_EQ(emu::admin::ReadString(kKotaComponentKey, kChangeMarkerValue), "Remove BETA");
  EXPECT_TRUE(ReadChangeMarker().HasRemovalOf("BETA"));
  EXPECT_FALSE(ReadChangeMarker().HasRemovalOf("ALPHA"));
  UnmarkRemoval("BETA");
  emu::admin::RegValue value;
  EXPECT_FALSE(emu::admin::ReadValue(kKotaComponentKey, kChangeMarkerValue, &value));
  EXPECT_TRUE(ReadChangeMarker().Empty());
}

// A list of long names outgrows the tool's path buffers and is read whole.
TEST_F(ChangeMarkerEntries, ALongListIsReadWhole) {
  ASSERT_TRUE(emu::admin::CreateKey(kKotaComponentKey));
  const std::string first(204, 'A'), second(204, 'B'), third(204, 'C');
  for (const std::string& name : {first, second, third}) ASSERT_TRUE(MarkRemoval(name.c_str()));
  EXPECT_EQ(ReadChangeMarker().Removals, (std::vector<std::string>{first, second, third}));
}

}  // namespace
}  // namespace componenttest
